#pragma once
// The tags of a music file: artist, title, album, track and disc number, read with TagLib.
#include <cstddef>
#include <string>

#include "model/TrackFacts.h"

namespace quendo::audio {

// A field's text is cut to this many bytes of UTF-8 (at a character's edge): more is no name a
// listener reads, and a hostile tag would otherwise carry megabytes into the cache.
constexpr std::size_t kMaxTagBytes = 256;
// Track and disc numbers above this are not numbers anyone counted to: they read as 0.
constexpr int kMaxTagNumber = 9999;

// What the file's tags say. The content tells how the file is read, as the engine tells it (the
// name is not asked): MPEG audio by its ID3v2, APE and ID3v1 tags, in that order of trust; ASF by
// its own; RIFF WAVE by an ID3v2 chunk, then its INFO list. Text is valid UTF-8 without control
// characters, trimmed; "3/12" reads as track 3. Empty for a file of another kind, one that cannot
// be read, or one whose ID3v2 tag runs past the file's end (a file cut short). `failed` tells the
// file that could not be read (not opened, or not read through as its kind) from one that holds
// no tags. Any thread; reads the tags only, never the audio.
TrackTags ReadTags(const std::string& path, bool* failed = nullptr);

// The ways a file's bytes can be read for tags.
enum class TagLayout { kMpeg, kAsf, kWav };
// The same from bytes in memory, read as `layout` whatever they hold.
TrackTags ReadTags(const unsigned char* data, std::size_t size, TagLayout layout);

}  // namespace quendo::audio
