// readbench - how fast the library reads PPM rows into Xel rows.
//   readbench [raw.ppm plain.ppm]
// Without arguments it writes a 4096 x 4096 raw PPM and the same image as a
// plain PPM into a temporary folder, times reading each row by row (best of
// a few runs, file in the page cache) and prints MB/s of file data.
#include <orrim.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const int SIZE = 4096;
const int RUNS = 5;
const double RAW_TARGET = 500.0;
const double PLAIN_TARGET = 50.0;

// Smooth gradients with a little noise: many colours, numbers of every length.
void writeSample(const std::string& path, bool plain) {
    FILE* f = pm_openw(path.c_str());
    Pixel* row = ppm_allocrow(SIZE);
    uint32_t noise = 12345;
    ppm_writeppminit(f, SIZE, SIZE, 255, plain);
    for (int y = 0; y < SIZE; ++y) {
        for (int x = 0; x < SIZE; ++x) {
            noise = noise * 1103515245u + 12345u;
            Sample n = (noise >> 16) & 15;
            row[x] = Pixel{Sample((x * 255 / SIZE + n) & 255), Sample((y * 255 / SIZE + n) & 255),
                           Sample(((x + y) * 127 / SIZE + n) & 255)};
        }
        ppm_writeppmrow(f, row, SIZE, 255, plain);
    }
    pm_freerow(row);
    pm_closew(f);
}

double fileMegabytes(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) pm_error("cannot stat '%s'", path.c_str());
    return double(st.st_size) / 1e6;
}

// Seconds for one full read; the checksum keeps the reads from being idle.
double timeRead(const std::string& path, uint64_t* checksum) {
    auto start = std::chrono::steady_clock::now();
    FILE* f = pm_openr(path.c_str());
    int cols, rows, format;
    Sample maxval;
    pnm_readpnminit(f, &cols, &rows, &maxval, &format);
    Xel* row = pnm_allocrow(cols);
    uint64_t sum = 0;
    for (int y = 0; y < rows; ++y) {
        pnm_readpnmrow(f, row, cols, maxval, format);
        sum += row[y % (cols ? cols : 1)].r;
    }
    pm_freerow(row);
    pm_closer(f);
    *checksum += sum;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double bestRate(const std::string& path) {
    uint64_t checksum = 0;
    double best = 1e30;
    for (int i = 0; i < RUNS; ++i) {
        double t = timeRead(path, &checksum);
        if (t < best) best = t;
    }
    if (checksum == 1) pm_message("checksum %llu", static_cast<unsigned long long>(checksum));
    return fileMegabytes(path) / best;
}

void report(const char* what, const std::string& path, double target) {
    double rate = bestRate(path);
    printf("%-10s %8.1f MB/s  (%.1f MB file; target >= %.0f MB/s: %s)\n", what, rate, fileMegabytes(path), target,
           rate >= target ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    std::string rawPath, plainPath, dir;
    if (argc == 3) {
        rawPath = argv[1];
        plainPath = argv[2];
    } else if (argc == 1) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/readbench.XXXXXX";
        if (!mkdtemp(&pattern[0])) pm_error("cannot create a temporary folder");
        dir = pattern;
        rawPath = dir + "/raw.ppm";
        plainPath = dir + "/plain.ppm";
        writeSample(rawPath, false);
        writeSample(plainPath, true);
    } else {
        pm_usage("[raw.ppm plain.ppm]");
    }
    report("raw PPM", rawPath, RAW_TARGET);
    report("plain PPM", plainPath, PLAIN_TARGET);
    if (!dir.empty()) {
        unlink(rawPath.c_str());
        unlink(plainPath.c_str());
        rmdir(dir.c_str());
    }
    return 0;
}
