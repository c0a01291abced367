#pragma once
#include <cstdint>
#include <vector>

namespace quendo {

// What the cocktail maker needs of the playlist: somewhere to add the files it draws, and what
// comes before the place the next one goes.
class CocktailPlaylist {
public:
    virtual void AddToPlaylist(std::int32_t file) = 0;
    // Up to n files before the place the next add fills, the nearest first: the entries listed
    // before it, then the track playing.
    virtual std::vector<std::int32_t> FilesBeforeNextAdd(int n) const = 0;

protected:
    ~CocktailPlaylist() = default;
};

}  // namespace quendo
