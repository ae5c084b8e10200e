// The least any tool must do with a packet file and its two products: read
// the input once, sequentially, and write two files of the products' sizes,
// each through a buffered stream, then sync both to disk, as trokproc does
// before it gives its products their final names. bench/run times trokproc
// against this.
//
//   iofloor INPUT OUT1 SIZE1 OUT2 SIZE2
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Writes `count` bytes taken (cyclically) from `data` to `out`.
void WriteFrom(std::ofstream& out, const std::vector<char>& data, std::size_t have, unsigned long long count) {
    while (count > 0) {
        std::size_t n = have;
        if (n > count) n = static_cast<std::size_t>(count);
        out.write(data.data(), static_cast<std::streamsize>(n));
        count -= n;
    }
}

// Syncs the file's data to disk; false when that fails.
bool Sync(const char* path) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: iofloor INPUT OUT1 SIZE1 OUT2 SIZE2\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ofstream out1(argv[2], std::ios::binary | std::ios::trunc);
    std::ofstream out2(argv[4], std::ios::binary | std::ios::trunc);
    const unsigned long long size1 = std::strtoull(argv[3], nullptr, 10);
    const unsigned long long size2 = std::strtoull(argv[5], nullptr, 10);
    if (!in || !out1 || !out2) {
        std::cerr << "iofloor: cannot open the files\n";
        return 1;
    }
    in.seekg(0, std::ios::end);
    const unsigned long long insize = static_cast<unsigned long long>(in.tellg());
    in.seekg(0, std::ios::beg);

    // Outputs grow in step with the input read so far, as a streaming tool's do.
    std::vector<char> block(64 * 1024);
    unsigned long long done = 0, written1 = 0, written2 = 0;
    unsigned checksum = 0;
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        const std::size_t got = static_cast<std::size_t>(in.gcount());
        done += got;
        for (std::size_t i = 0; i < got; i += 64) checksum += static_cast<unsigned char>(block[i]);
        const unsigned long long want1 = insize ? size1 * done / insize : size1;
        const unsigned long long want2 = insize ? size2 * done / insize : size2;
        WriteFrom(out1, block, got, want1 - written1);
        WriteFrom(out2, block, got, want2 - written2);
        written1 = want1;
        written2 = want2;
    }
    if (written1 < size1) WriteFrom(out1, block, block.size(), size1 - written1);
    if (written2 < size2) WriteFrom(out2, block, block.size(), size2 - written2);
    out1.close();
    out2.close();
    if (!out1 || !out2 || !Sync(argv[2]) || !Sync(argv[4])) {
        std::cerr << "iofloor: write failed\n";
        return 1;
    }
    return checksum == 0xFFFFFFFFu ? 3 : 0;  // keeps the reads observable
}
