// Replays fuzzing inputs through a fuzz target without libFuzzer: the regression corpus
// runs in every build as a plain test. Arguments: files, or folders of them.
#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int Replay(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return -1;
    }
    if (S_ISDIR(info.st_mode)) {
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr) return -1;
        int count = 0;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const int n = Replay(path + "/" + name);
            if (n < 0) return n;
            count += n;
        }
        closedir(dir);
        return count;
    }
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s\n", path.c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int total = 0;
    for (int i = 1; i < argc; ++i) {
        const int n = Replay(argv[i]);
        if (n < 0) return 1;
        total += n;
    }
    std::printf("%d inputs replayed\n", total);
    return total > 0 ? 0 : 1;
}
