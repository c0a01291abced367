#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quendo::audio {

// A regular file, open for reading at any offset from any thread (pread).
class SourceFile {
public:
    // nullptr when the path is not a readable regular file.
    static std::shared_ptr<SourceFile> Open(const std::string& path);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    const std::string& Path() const { return path_; }
    std::int64_t Size() const { return size_; }
    // Up to n bytes at offset; returns the count read (short at the end of the file).
    std::size_t Read(std::int64_t offset, void* buf, std::size_t n) const;

private:
    SourceFile(std::string path, int fd, std::int64_t size) : path_(std::move(path)), fd_(fd), size_(size) {}
    std::string path_;
    int fd_;
    std::int64_t size_;
};

}  // namespace quendo::audio
