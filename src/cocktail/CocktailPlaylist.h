#pragma once
#include <cstdint>

namespace quendo {

// What the cocktail maker needs of the playlist: somewhere to add the files it draws.
class CocktailPlaylist {
public:
    virtual void AddToPlaylist(std::int32_t file) = 0;

protected:
    ~CocktailPlaylist() = default;
};

}  // namespace quendo
