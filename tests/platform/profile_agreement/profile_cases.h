// Generated private-profile cases: a starting file and a sequence of reads and writes. The
// same seed and index give the same case on every target (our own generator, no standard
// distributions), so the same cases run against our implementation and the system's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quiltra::test {

// One call of the private-profile interface. A null name or text stands for a null pointer.
struct ProfileOp {
    enum class Kind {
        getString,  // text = the default, number = the buffer size
        getInt,     // number = the default
        write,      // writePrivateProfileString; text = the value
        edit,       // a ProfileEdit writing one key, reading it back, then committing
    };
    Kind kind = Kind::getString;
    std::optional<std::string> section;
    std::optional<std::string> key;
    std::optional<std::string> text;
    int number = 0;
};

struct ProfileCase {
    std::optional<std::string> file;  // the starting bytes; none: the file is missing
    std::vector<ProfileOp> ops;
};

// The case `index` of the run `seed`.
ProfileCase makeProfileCase(std::uint64_t seed, std::uint64_t index);

}  // namespace quiltra::test
