// "qnd.cfg": 178 lines, CR LF, one field per line in a fixed order.
#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "library/Configuration.h"
#include "model/NodeTable.h"
#include "library/SafeFile.h"

namespace quendo {
namespace {

constexpr std::size_t kMaxConfigurationBytes = 64u << 20;  // far beyond any real file
constexpr int kLines = 178;

// A text line must not carry a line end of its own, or every later field would shift.
void AppendText(std::string& out, std::string_view text) {
    for (char c : text) out += (c == '\r' || c == '\n') ? ' ' : c;
    out += "\r\n";
}

void AppendInt(std::string& out, long long v) {
    out += std::to_string(v);
    out += "\r\n";
}

void AppendBool(std::string& out, bool v) { out += v ? "1\r\n" : "0\r\n"; }

// Lines end with CR LF, a bare LF or a lone CR; a last line without an end counts too.
std::vector<std::string_view> SplitLines(std::string_view text, std::size_t maxLines) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size() && lines.size() < maxLines) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

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
    explicit FieldReader(std::vector<std::string_view> lines) : lines_(std::move(lines)) {}

    std::optional<std::string_view> Text() {
        if (next_ >= lines_.size()) return std::nullopt;
        return lines_[next_++];
    }
    void Int(int& target, int lo, int hi, bool clamp, int fallback) {
        const std::optional<long long> v = Raw();
        if (!v) return;
        if (*v >= lo && *v <= hi) target = static_cast<int>(*v);
        else target = clamp ? static_cast<int>(*v < lo ? lo : hi) : fallback;
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
        const std::optional<std::string_view> line = Text();
        if (!line) return;
        for (char c : *line)
            if (!IsBlank(c)) {
                target = c;
                return;
            }
    }

private:
    std::optional<long long> Raw() {
        const std::optional<std::string_view> line = Text();
        return line ? ParseInt(*line) : std::nullopt;
    }
    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
};

}  // namespace

std::string FormatConfiguration(const ConfigurationData& data) {
    const CocktailTable& cocktailTable = data.cocktails;
    const Options& options = data.options;
    const TransportButtons& buttons = data.buttons;
    std::string out;
    out.reserve(4096);
    AppendText(out, data.MusicFolder);
    AppendInt(out, cocktailTable.RepeatLimit);
    AppendInt(out, cocktailTable.CurrentCocktail);
    for (const Cocktail& c : cocktailTable.cocktails) {
        AppendText(out, c.name);
        for (const Ingredient& in : c.ingredients) {
            AppendInt(out, in.sourceKind);
            AppendInt(out, in.folder);
            AppendInt(out, in.parts);
        }
    }
    AppendBool(out, options.chkShowSplash);
    AppendBool(out, options.chkShowAnimat);
    AppendBool(out, options.chkMusicFileTimeRem);
    AppendBool(out, options.chkAutoMixTimeRem);
    AppendBool(out, options.chkAlwaysOnTop);
    out += options.reservedByte;
    out += "\r\n";
    AppendBool(out, options.chkAutoStartOfPlaying);
    AppendInt(out, options.RadioGroup1);
    AppendInt(out, options.RadioGroup2);
    AppendBool(out, buttons.Repeat);
    AppendBool(out, buttons.Shuffle);
    AppendBool(out, buttons.Mix_OFF);
    AppendBool(out, buttons.UP);
    AppendBool(out, buttons.Play);
    AppendBool(out, options.CheckBox1);
    return out;
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
    CocktailTable table;
    table.SetFirstRunValues(folderCount);
    Options o = current.options;
    SetOptionsToFirstRun(o);
    TransportButtons b = current.buttons;
    SetButtonsToFirstRun(b);
    std::string musicFolder = current.MusicFolder;

    FieldReader r(SplitLines(content, kLines));
    if (const auto line = r.Text()) {
        musicFolder.assign(*line);
        if (!musicFolder.empty() && musicFolder.back() != NodeTable::kSeparator)
            musicFolder += NodeTable::kSeparator;
    }
    r.Int(table.RepeatLimit, 0, 255, true, 3);
    r.Int(table.CurrentCocktail, 0, CocktailTable::kCount - 1, true, 0);
    for (Cocktail& c : table.cocktails) {
        if (const auto line = r.Text()) c.name.assign(*line);
        for (Ingredient& in : c.ingredients) {
            r.Int(in.sourceKind, 0, static_cast<int>(IngredientKind::Year), false,
                  static_cast<int>(IngredientKind::Folder));
            r.Int32(in.folder);  // checked against FolderCount where it is used
            r.Int(in.parts, 0, 10, true, 1);
        }
    }
    r.Bool(o.chkShowSplash);
    r.Bool(o.chkShowAnimat);
    r.Bool(o.chkMusicFileTimeRem);
    r.Bool(o.chkAutoMixTimeRem);
    r.Bool(o.chkAlwaysOnTop);
    r.Char(o.reservedByte);
    r.Bool(o.chkAutoStartOfPlaying);
    // A choice outside its list falls back to its first-run item (never to "Shut down").
    r.Int(o.RadioGroup1, suClearPlaylist, suLoadCocktail, false, suContinueSession);
    r.Int(o.RadioGroup2, epLoadCocktail, epShutDown, false, epLoadCocktail);
    r.Bool(b.Repeat);
    r.Bool(b.Shuffle);
    r.Bool(b.Mix_OFF);
    r.Bool(b.UP);
    r.Bool(b.Play);
    r.Bool(o.CheckBox1);

    o.Edit1 = musicFolder;
    return ConfigurationData{musicFolder, table, o, b};
}

}  // namespace quendo
