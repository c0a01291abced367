// "qnd.cfg" as any bytes: every value the reader hands on lies in its range, and what it read,
// written and read again, is read the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "library/Configuration.h"

using namespace quendo;

namespace {

// A state that differs from the first-run values everywhere the reader keeps or replaces it.
ConfigurationData Current() {
    ConfigurationData c;
    c.MusicFolder = "/old/music/";
    c.options.Edit1 = "/old/music/";
    c.options.ComboBox5 = 0;
    c.options.chkShowSplash = false;
    c.options.RadioGroup1 = suLoadCocktail;
    c.options.RadioGroup2 = epShutDown;
    c.buttons.Play = false;
    c.cocktails.SetFirstRunValues(7);
    c.cocktails.RepeatLimit = 200;
    return c;
}

void CheckRanges(const ConfigurationData& d) {
    FUZZ_CHECK(d.cocktails.RepeatLimit >= 0 && d.cocktails.RepeatLimit <= 255);
    FUZZ_CHECK(d.cocktails.CurrentCocktail >= 0 && d.cocktails.CurrentCocktail < CocktailTable::kCount);
    for (const Cocktail& c : d.cocktails.cocktails) {
        // A line end inside a text field would shift every later field of the next save.
        FUZZ_CHECK(c.name.find_first_of("\r\n") == std::string::npos);
        for (const Ingredient& in : c.ingredients) {
            FUZZ_CHECK(in.sourceKind >= 0 && in.sourceKind <= static_cast<int>(IngredientKind::Year));
            FUZZ_CHECK(in.parts >= 0 && in.parts <= 10);
        }
    }
    const Options& o = d.options;
    FUZZ_CHECK(o.RadioGroup1 >= suClearPlaylist && o.RadioGroup1 <= suLoadCocktail);
    FUZZ_CHECK(o.RadioGroup2 >= epLoadCocktail && o.RadioGroup2 <= epShutDown);
    FUZZ_CHECK(o.ComboBox5 == 0);  // not in the file: kept
    FUZZ_CHECK(o.Edit1 == d.MusicFolder);
    FUZZ_CHECK(d.MusicFolder.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(d.MusicFolder.empty() || d.MusicFolder.back() == '/');
}

bool Same(const ConfigurationData& a, const ConfigurationData& b) {
    if (a.MusicFolder != b.MusicFolder || a.cocktails.RepeatLimit != b.cocktails.RepeatLimit ||
        a.cocktails.CurrentCocktail != b.cocktails.CurrentCocktail)
        return false;
    for (int i = 0; i < CocktailTable::kCount; ++i) {
        const Cocktail &x = a.cocktails[i], &y = b.cocktails[i];
        if (x.name != y.name) return false;
        for (std::size_t k = 0; k < 3; ++k) {
            const Ingredient &p = x.ingredients[k], &q = y.ingredients[k];
            if (p.sourceKind != q.sourceKind || p.folder != q.folder || p.parts != q.parts) return false;
        }
    }
    const Options &o = a.options, &u = b.options;
    const TransportButtons &m = a.buttons, &n = b.buttons;
    return o.Edit1 == u.Edit1 && o.chkShowSplash == u.chkShowSplash && o.chkShowAnimat == u.chkShowAnimat &&
           o.chkMusicFileTimeRem == u.chkMusicFileTimeRem && o.chkAutoMixTimeRem == u.chkAutoMixTimeRem &&
           o.chkAlwaysOnTop == u.chkAlwaysOnTop && o.reservedByte == u.reservedByte &&
           o.chkAutoStartOfPlaying == u.chkAutoStartOfPlaying && o.RadioGroup1 == u.RadioGroup1 &&
           o.RadioGroup2 == u.RadioGroup2 && o.ComboBox5 == u.ComboBox5 && o.CheckBox1 == u.CheckBox1 &&
           m.UP == n.UP && m.Play == n.Play && m.Shuffle == n.Shuffle && m.Repeat == n.Repeat &&
           m.Mix_OFF == n.Mix_OFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ConfigurationData current = Current();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The folder count of the scan this load follows: few folders, or many.
    const std::int32_t folders = size > 0 ? (data[0] & 1 ? 3 : 64000) : 0;

    const ConfigurationData once = ParseConfiguration(bytes, current, folders);
    CheckRanges(once);

    const std::string saved = FormatConfiguration(once);
    std::size_t lines = 0;
    for (std::size_t i = 0; i + 1 < saved.size(); ++i) lines += saved[i] == '\r' && saved[i + 1] == '\n';
    // A NUL reserved byte or a text with a lone CR would add lines; neither may come out.
    FUZZ_CHECK(lines == 178);

    const ConfigurationData twice = ParseConfiguration(saved, current, folders);
    FUZZ_CHECK(Same(once, twice));
    FUZZ_CHECK(FormatConfiguration(twice) == saved);
    return 0;
}
