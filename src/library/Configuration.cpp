// "qnd.cfg": 178 lines, CR LF, one field per line in a fixed order.
#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>

#include "library/Configuration.h"
#include "model/NodeTable.h"
#include "library/SafeFile.h"
#include "library/TextLines.h"

namespace quendo {
namespace {

constexpr std::size_t kMaxConfigurationBytes = 64u << 20;  // far beyond any real file

// What a number field takes when the file holds one outside lo..hi: the nearer end (clamp), or
// `fallback`.
struct Range {
    int lo;
    int hi;
    bool clamp;
    int fallback;
};

// The file's fields in their order, one per line, each with the rule it is read by: the one list
// that both the writer and the reader walk. Data is ConfigurationData when reading, const when writing.
template <class Data, class Fields>
void EachField(Data& d, Fields& f) {
    f.Folder(d.MusicFolder);
    f.Int(d.cocktails.RepeatLimit, {0, 255, true, 3});
    f.Int(d.cocktails.CurrentCocktail, {0, CocktailTable::kCount - 1, true, 0});
    for (auto& c : d.cocktails.cocktails) {
        f.Text(c.name);
        for (auto& in : c.ingredients) {
            f.Int(in.sourceKind, {0, static_cast<int>(IngredientKind::Year), false,
                                  static_cast<int>(IngredientKind::Folder)});
            f.Int32(in.folder);  // checked against FolderCount where it is used
            f.Int(in.parts, {0, kMaxParts, true, 1});
        }
    }
    auto& o = d.options;
    f.Bool(o.chkShowSplash);
    f.Bool(o.chkShowAnimat);
    f.Bool(o.chkMusicFileTimeRem);
    f.Bool(o.chkAutoMixTimeRem);
    f.Bool(o.chkAlwaysOnTop);
    f.Char(o.reservedByte);
    f.Bool(o.chkAutoStartOfPlaying);
    // A choice outside its list falls back to its first-run item (never to "Shut down").
    f.Int(o.RadioGroup1, {suClearPlaylist, suLoadCocktail, false, suContinueSession});
    f.Int(o.RadioGroup2, {epLoadCocktail, epShutDown, false, epLoadCocktail});
    auto& b = d.buttons;
    f.Bool(b.Repeat);
    f.Bool(b.Shuffle);
    f.Bool(b.Mix_OFF);
    f.Bool(b.UP);
    f.Bool(b.Play);
    f.Bool(o.CheckBox1);
}

// Each field on its line, CR LF after each.
class FieldWriter {
public:
    std::string out;

    void Folder(const std::string& folder) { Text(folder); }
    // A text line must not carry a line end of its own, or every later field would shift.
    void Text(std::string_view text) {
        for (char c : text) out += (c == '\r' || c == '\n') ? ' ' : c;
        out += "\r\n";
    }
    void Int(int v, Range) { Line(std::to_string(v)); }
    void Int32(std::int32_t v) { Line(std::to_string(v)); }
    void Bool(bool v) { Line(v ? "1" : "0"); }
    void Char(char c) { Line(std::string_view(&c, 1)); }

private:
    void Line(std::string_view text) {
        out += text;
        out += "\r\n";
    }
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n'; }

std::optional<long long> ParseInt(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return v;
}

// Field by field over the lines; a missing or unreadable field leaves its value as it was.
class FieldReader {
public:
    explicit FieldReader(std::string_view content) : lines_(content) {}

    void Folder(std::string& folder) {
        const std::optional<std::string_view> line = lines_.Next();
        if (!line) return;
        folder.assign(*line);
        if (!folder.empty() && folder.back() != NodeTable::kSeparator) folder += NodeTable::kSeparator;
    }
    void Text(std::string& text) {
        if (const std::optional<std::string_view> line = lines_.Next()) text.assign(*line);
    }
    void Int(int& target, Range r) {
        const std::optional<long long> v = Raw();
        if (!v) return;
        if (*v >= r.lo && *v <= r.hi) target = static_cast<int>(*v);
        else target = r.clamp ? (*v < r.lo ? r.lo : r.hi) : r.fallback;
    }
    void Int32(std::int32_t& target) {
        if (const std::optional<long long> v = Raw()) target = static_cast<std::int32_t>(*v);
    }
    void Bool(bool& target) {
        const std::optional<long long> v = Raw();
        if (v && (*v == 0 || *v == 1)) target = *v == 1;
    }
    // The first character that is not white space; a reader that lost the NUL byte finds
    // an empty line here and still keeps its place.
    void Char(char& target) {
        const std::optional<std::string_view> line = lines_.Next();
        if (!line) return;
        for (char c : *line)
            if (!IsBlank(c)) {
                target = c;
                return;
            }
    }

private:
    std::optional<long long> Raw() {
        const std::optional<std::string_view> line = lines_.Next();
        return line ? ParseInt(*line) : std::nullopt;
    }
    TextLines lines_;
};

}  // namespace

std::string FormatConfiguration(const ConfigurationData& data) {
    FieldWriter writer;
    writer.out.reserve(4096);
    EachField(data, writer);
    return std::move(writer.out);
}

bool SaveConfiguration(const std::string& path, const ConfigurationData& data) {
    return WriteFileAtomically(path, FormatConfiguration(data));
}

std::optional<ConfigurationData> LoadConfiguration(const std::string& path, const ConfigurationData& current,
                                                   std::int32_t folderCount) {
    std::string content;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec) || !ReadWholeFile(path, content, kMaxConfigurationBytes))
        return std::nullopt;
    return ParseConfiguration(content, current, folderCount);
}

ConfigurationData ParseConfiguration(std::string_view content, const ConfigurationData& current,
                                     std::int32_t folderCount) {
    // Whatever the file cannot tell keeps its first-run value.
    ConfigurationData d{current.MusicFolder, CocktailTable{}, current.options, current.buttons};
    d.cocktails.SetFirstRunValues(folderCount);
    SetOptionsToFirstRun(d.options);
    SetButtonsToFirstRun(d.buttons);

    FieldReader reader(content);
    EachField(d, reader);
    d.options.Edit1 = d.MusicFolder;
    return d;
}

}  // namespace quendo
