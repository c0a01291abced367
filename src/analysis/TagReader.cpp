#include "analysis/TagReader.h"

#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

#include <exception>
#include <utility>
#include <vector>

#include "playback/engine/MediaFile.h"
#include "playback/engine/SourceFile.h"

namespace quendo::audio {

namespace {

// The length of the UTF-8 sequence at p (n bytes left) when it is a valid one: shortest form, no
// surrogate, at most U+10FFFF; 0 otherwise.
std::size_t Utf8Length(const unsigned char* p, std::size_t n) {
    const unsigned c = p[0];
    if (c < 0x80) return 1;
    std::size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi) return 0;
    for (std::size_t i = 2; i < len; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return len;
}

bool ValidUtf8(const TagLib::ByteVector& b) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.data());
    for (std::size_t i = 0, n = b.size(); i < n;) {
        const std::size_t len = Utf8Length(p + i, n - i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

// Text that should be Latin-1 (ID3v1) or is of no stated coding (RIFF INFO) is UTF-8 as often as
// not in files found in the wild: take it as UTF-8 when it is valid UTF-8.
TagLib::String Decode8Bit(const TagLib::ByteVector& data) {
    // The fields are padded with NULs to their width.
    const int end = data.find(TagLib::ByteVector(1, '\0'));
    const TagLib::ByteVector text = end < 0 ? data : data.mid(0, static_cast<unsigned>(end));
    return TagLib::String(text, ValidUtf8(text) ? TagLib::String::UTF8 : TagLib::String::Latin1);
}
struct Id3v1Text final : TagLib::ID3v1::StringHandler {
    TagLib::String parse(const TagLib::ByteVector& data) const override { return Decode8Bit(data); }
};
struct InfoText final : TagLib::RIFF::Info::StringHandler {
    TagLib::String parse(const TagLib::ByteVector& data) const override { return Decode8Bit(data); }
};

// TagLib keeps one handler per tag kind for the whole process.
void SetTextHandlers() {
    static const bool done = [] {
        static const Id3v1Text id3v1;
        static const InfoText info;
        TagLib::ID3v1::Tag::setStringHandler(&id3v1);
        TagLib::RIFF::Info::Tag::setStringHandler(&info);
        return true;
    }();
    (void)done;
}

// Valid UTF-8, control characters as spaces, no spaces at either end, at most kMaxTagBytes.
std::string CleanText(const TagLib::String& s) {
    // A character takes at least one byte: no more than kMaxTagBytes can be kept, after what
    // leading space and stray bytes a tag may hold.
    const std::string raw = s.substr(0, static_cast<unsigned>(4 * kMaxTagBytes)).to8Bit(true);
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    for (std::size_t i = 0, n = raw.size(); i < n;) {
        const std::size_t len = Utf8Length(p + i, n - i);
        if (len == 0) {  // a stray byte goes
            ++i;
            continue;
        }
        // C0, DEL and C1 controls: a tab or a line break in a name would break the lines it goes into.
        const bool control = (len == 1 && (p[i] < 0x20 || p[i] == 0x7F)) || (len == 2 && p[i] == 0xC2 && p[i + 1] < 0xA0);
        const bool space = control || p[i] == ' ';
        if (out.size() + (space ? 1 : len) > kMaxTagBytes) break;
        if (space) {
            if (!out.empty()) out += ' ';
        } else {
            out.append(raw, i, len);
        }
        i += len;
    }
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

// The leading whole number: "3/12" is 3, "07" is 7; 0 without digits or above kMaxTagNumber.
int LeadingNumber(const std::string& text) {
    int value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kMaxTagNumber) return 0;
    }
    return value;
}

// The tags found in a file, the most trusted first: each field comes from the first that has it.
class Fields {
public:
    void Add(const TagLib::PropertyMap& map) {
        Take(map, "ARTIST", tags_.artist);
        Take(map, "TITLE", tags_.title);
        Take(map, "ALBUM", tags_.album);
        std::string number;
        if (tags_.trackNumber == 0 && Take(map, "TRACKNUMBER", number)) tags_.trackNumber = LeadingNumber(number);
        number.clear();
        if (tags_.discNumber == 0 && Take(map, "DISCNUMBER", number)) tags_.discNumber = LeadingNumber(number);
    }
    TrackTags Tags() && { return std::move(tags_); }

private:
    static bool Take(const TagLib::PropertyMap& map, const char* key, std::string& field) {
        if (!field.empty()) return false;
        const auto it = map.find(key);
        if (it == map.end()) return false;
        for (const TagLib::String& value : it->second) {
            field = CleanText(value);
            if (!field.empty()) return true;
        }
        return false;
    }
    TrackTags tags_;
};

// RIFF INFO through its own field names: the generic map drops a track number kept as ITRK.
TagLib::PropertyMap InfoMap(const TagLib::RIFF::Info::Tag& info) {
    TagLib::PropertyMap map;
    const auto put = [&](const char* key, const char* id) {
        const TagLib::String text = info.fieldText(id);
        if (!text.isEmpty()) map.insert(key, TagLib::StringList(text));
    };
    put("ARTIST", "IART");
    put("TITLE", "INAM");
    put("ALBUM", "IPRD");
    put("TRACKNUMBER", "IPRT");
    put("TRACKNUMBER", "ITRK");
    return map;
}

// An ID3v2 tag longer than the stream is the start of a file cut short, not a tag to trust.
bool Whole(const TagLib::ID3v2::Tag& tag, TagLib::IOStream& stream) {
    return static_cast<long long>(tag.header()->completeTagSize()) <= static_cast<long long>(stream.length());
}

// `failed`: TagLib could not read the file as its kind.
TrackTags FromStream(TagLib::IOStream& stream, TagLayout layout, bool& failed) {
    SetTextHandlers();
    Fields fields;
    switch (layout) {
        case TagLayout::kMpeg: {
            TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
            if (!file.isValid()) return failed = true, TrackTags{};
            if (file.hasID3v2Tag()) {
                if (!Whole(*file.ID3v2Tag(), stream)) return {};
                fields.Add(file.ID3v2Tag()->properties());
            }
            if (file.hasAPETag()) fields.Add(file.APETag()->properties());
            if (file.hasID3v1Tag()) fields.Add(file.ID3v1Tag()->properties());
            break;
        }
        case TagLayout::kAsf: {
            TagLib::ASF::File file(&stream, false);
            if (!file.isValid() || !file.tag()) return failed = true, TrackTags{};
            fields.Add(file.tag()->properties());
            break;
        }
        case TagLayout::kWav: {
            TagLib::RIFF::WAV::File file(&stream, false);
            if (!file.isValid()) return failed = true, TrackTags{};
            if (file.hasID3v2Tag()) fields.Add(file.ID3v2Tag()->properties());
            if (file.hasInfoTag()) fields.Add(InfoMap(*file.InfoTag()));
            break;
        }
    }
    return std::move(fields).Tags();
}

TrackTags Guarded(TagLib::IOStream& stream, TagLayout layout, bool& failed) {
    // TagLib reports its own errors by validity; what can still escape is a failed allocation.
    try {
        return FromStream(stream, layout, failed);
    } catch (const std::exception&) {
        failed = true;
        return {};
    }
}

}  // namespace

TrackTags ReadTags(const std::string& path, bool* failed) {
    bool ignored = false;
    bool& why = failed ? *failed : ignored;
    why = false;
    const auto file = SourceFile::Open(path);
    if (!file) return why = true, TrackTags{};
    const Sniffed s = Sniff(*file);
    TagLayout layout;
    switch (s.kind) {
        case Container::kMp3: layout = TagLayout::kMpeg; break;
        case Container::kWavPcm:
        case Container::kWav: layout = TagLayout::kWav; break;
        case Container::kAsf: layout = TagLayout::kAsf; break;
        // Frames not found near the start may still follow an ID3v2 tag: its text is worth having.
        case Container::kOther:
            if (s.tagsEnd == 0) return {};
            layout = TagLayout::kMpeg;
            break;
        default: return {};
    }
    TagLib::FileStream stream(path.c_str(), true);
    if (!stream.isOpen()) return why = true, TrackTags{};
    return Guarded(stream, layout, why);
}

TrackTags ReadTags(const unsigned char* data, std::size_t size, TagLayout layout) {
    if (!data || size == 0 || size > 0x7fffffffu) return {};
    TagLib::ByteVectorStream stream(TagLib::ByteVector(reinterpret_cast<const char*>(data), static_cast<unsigned>(size)));
    bool failed = false;
    return Guarded(stream, layout, failed);
}

}  // namespace quendo::audio
