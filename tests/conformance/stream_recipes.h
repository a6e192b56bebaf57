// The streams of the conformance suite: how each is made at test time.
#pragma once

#include <string>
#include <vector>

namespace d2u {
namespace test {

struct StreamRecipe {
    std::string name;     // also the cached file's name
    std::string command;  // shell command writing the stream to {out}
    bool quick = false;   // part of the reduced set (slow emulated builds)
};

std::vector<StreamRecipe> ConformanceRecipes();

}  // namespace test
}  // namespace d2u
