// Small functions of rasterpack: time parsing, rescaling, libpng recovery
// and the image data sink.
#include "modtime.h"
#include "pngwriter.h"
#include "rows.h"

#include <gtest/gtest.h>
#include <png.h>
#include <pngrecovery.h>

#include <cstdlib>

#include <ostream>

using namespace rasterpack;

namespace {

struct TimeCase {
    const char* date;
    const char* time;
    TimeParseResult result;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

void PrintTo(const TimeCase& c, std::ostream* os) { *os << c.date << ' ' << c.time; }

class ModificationTime : public testing::TestWithParam<TimeCase> {};

TEST_P(ModificationTime, ParsesOrRejects) {
    const TimeCase& c = GetParam();
    png_time t = {};
    ASSERT_EQ(parseModificationTime(c.date, c.time, &t), c.result);
    if (c.result != TIME_OK) return;
    EXPECT_EQ(t.year, c.year);
    EXPECT_EQ(t.month, c.month);
    EXPECT_EQ(t.day, c.day);
    EXPECT_EQ(t.hour, c.hour);
    EXPECT_EQ(t.minute, c.minute);
    EXPECT_EQ(t.second, c.second);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, ModificationTime,
    testing::Values(TimeCase{"2003-01-02", "03:04:05", TIME_OK, 2003, 1, 2, 3, 4, 5},
                    TimeCase{"99-12-31", "23:59:59", TIME_OK, 1999, 12, 31, 23, 59, 59},
                    TimeCase{"1999-12-31", "00:00:00", TIME_OK, 1999, 12, 31, 0, 0, 0},
                    // a full year of 1900 stays 1900
                    TimeCase{"1900-01-01", "00:00:00", TIME_OK, 1900, 1, 1, 0, 0, 0},
                    TimeCase{"0-06-15", "12:30:60", TIME_OK, 1900, 6, 15, 12, 30, 60},
                    TimeCase{"103-1-2", "3:4:5", TIME_OK, 2003, 1, 2, 3, 4, 5},
                    TimeCase{"999-1-2", "3:4:5", TIME_OK, 2899, 1, 2, 3, 4, 5},
                    TimeCase{"1000-01-02", "03:04:05", TIME_OK, 1000, 1, 2, 3, 4, 5},
                    TimeCase{"1899-12-31", "23:59:59", TIME_OK, 1899, 12, 31, 23, 59, 59},
                    TimeCase{"65535-12-31", "23:59:59", TIME_OK, 65535, 12, 31, 23, 59, 59},
                    TimeCase{"2003-13-01", "00:00:00", TIME_OUT_OF_RANGE},
                    TimeCase{"2003-00-01", "00:00:00", TIME_OUT_OF_RANGE},
                    TimeCase{"2003-01-32", "00:00:00", TIME_OUT_OF_RANGE},
                    TimeCase{"2003-01-00", "00:00:00", TIME_OUT_OF_RANGE},
                    TimeCase{"2003-01-01", "24:00:00", TIME_OUT_OF_RANGE},
                    TimeCase{"2003-01-01", "00:60:00", TIME_OUT_OF_RANGE},
                    TimeCase{"2003-01-01", "00:00:61", TIME_OUT_OF_RANGE},
                    TimeCase{"65536-01-01", "00:00:00", TIME_OUT_OF_RANGE},
                    TimeCase{"yesterday", "00:00:00", TIME_UNPARSABLE},
                    TimeCase{"2003-01", "00:00:00", TIME_UNPARSABLE},
                    TimeCase{"2003-01-02x", "00:00:00", TIME_UNPARSABLE},
                    TimeCase{"2003/01/02", "00:00:00", TIME_UNPARSABLE},
                    TimeCase{"-2003-01-02", "00:00:00", TIME_UNPARSABLE},
                    TimeCase{"2003-01-02", "noon", TIME_UNPARSABLE},
                    TimeCase{"2003-01-02", "12:00", TIME_UNPARSABLE},
                    TimeCase{"9999999999-01-02", "12:00:00", TIME_UNPARSABLE},
                    TimeCase{"", "", TIME_UNPARSABLE}));

struct RescaleCase {
    Sample v, maxval, newMaxval, expected;
};

void PrintTo(const RescaleCase& c, std::ostream* os) { *os << c.v << " of " << c.maxval << " to " << c.newMaxval; }

class Rescale : public testing::TestWithParam<RescaleCase> {};

TEST_P(Rescale, RoundsToNearestHalfUp) {
    const RescaleCase& c = GetParam();
    EXPECT_EQ(pm_rescalesample(c.v, c.maxval, c.newMaxval), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, Rescale,
                         testing::Values(RescaleCase{50, 100, 255, 128}, RescaleCase{100, 100, 255, 255},
                                         RescaleCase{1, 1, 255, 255}, RescaleCase{258, 65535, 65535, 258},
                                         RescaleCase{32896, 65535, 255, 128}, RescaleCase{7, 15, 255, 119},
                                         // products beyond 32 bits
                                         RescaleCase{99999, 100000, 65535, 65534},
                                         RescaleCase{50000, 100000, 65535, 32768},
                                         RescaleCase{4294967295u, 4294967295u, 65535, 65535},
                                         RescaleCase{2147483648u, 4294967295u, 65535, 32768},
                                         RescaleCase{65535, 65535, 4294967295u, 4294967295u}));

TEST(RescaleAlpha, FloorsAfterAddingHalf) {
    EXPECT_EQ(pm_rescalesample(0, 1, 255), 0u);
    EXPECT_EQ(pm_rescalesample(1, 1, 255), 255u);
    EXPECT_EQ(pm_rescalesample(1, 3, 255), 85u);
    EXPECT_EQ(pm_rescalesample(128, 255, 65535), 32896u);
    EXPECT_EQ(pm_rescalesample(1, 2, 255), 128u);  // 127.5 rounds up
}

TEST(SampleTable, NoneWhenSamplesPassUnchangedOrMaxvalTooWide) {
    bool failed = true;
    EXPECT_EQ(makeSampleTable(255, 255, &failed), nullptr);
    EXPECT_FALSE(failed);
    EXPECT_EQ(makeSampleTable(100000, 65535, &failed), nullptr);
    png_uint_16* table = makeSampleTable(100, 255, &failed);
    ASSERT_NE(table, nullptr);
    for (Sample v = 0; v <= 100; ++v) EXPECT_EQ(table[v], pm_rescalesample(v, 100, 255)) << v;
    free(table);
}

// An error raised with no recovery point armed ends the process with 99,
// whether the record's point is not armed yet or libpng has no record at all.
TEST(LibpngRecovery, UnarmedErrorEndsWithStatus99) {
    EXPECT_EXIT(
        {
            PngRecovery recovery;
            recovery.program = "rasterpack";
            png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &recovery, reportLibpngError, nullptr);
            png_error(png, "test failure");
        },
        testing::ExitedWithCode(99),
        "rasterpack:  fatal libpng error: test failure\n"
        "rasterpack:  EXTREMELY fatal error: jmpbuf unrecoverable; terminating.\n");
}

TEST(LibpngRecovery, NoErrorPointerEndsWithStatus99) {
    EXPECT_EXIT(
        {
            png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, reportLibpngError, nullptr);
            png_error(png, "lost");
        },
        testing::ExitedWithCode(99),
        std::string(pm_progname()) + ":  fatal libpng error: lost\n" + pm_progname() +
            ":  EXTREMELY fatal error: jmpbuf unrecoverable; terminating.\n");
}

png_structp recoveryTestPng = nullptr;
png_infop recoveryTestInfo = nullptr;

// Raises a libpng error from a frame below the recovery point.
void failInsideLibpng() { png_set_IHDR(recoveryTestPng, recoveryTestInfo, 0, 0, 8, 0, 0, 0, 0); }

TEST(LibpngRecovery, ArmedErrorReturnsToThePoint) {
    PngRecovery recovery;
    recovery.program = "rasterunpack";
    recoveryTestPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, &recovery, reportLibpngError, nullptr);
    ASSERT_NE(recoveryTestPng, nullptr);
    recoveryTestInfo = png_create_info_struct(recoveryTestPng);
    static int arrivals = 0;
    testing::internal::CaptureStderr();
    recovery.armed = true;
    if (setjmp(recovery.point) == 0) {
        failInsideLibpng();
        ADD_FAILURE() << "libpng accepted a 0 x 0 header";
    } else {
        ++arrivals;
    }
    recovery.armed = false;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(arrivals, 1);
    EXPECT_NE(err.find("rasterunpack:  fatal libpng error: "), std::string::npos) << err;
    png_destroy_write_struct(&recoveryTestPng, &recoveryTestInfo);
}

// The image data writer's sink writes IDAT chunks under a recovery point of
// its own; afterwards the conversion's point and the program's warning
// handler, which escapes control bytes, are in force again, whether the
// chunk went out or the write failed.
void appendToString(png_structp png, png_bytep data, size_t size) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}

void failTheWrite(png_structp png, png_bytep, size_t) { png_error(png, "Write Error"); }

void flushNothing(png_structp) {}

TEST(LibpngRecovery, IdatChunksKeepThePointAndTheWarningHandler) {
    for (bool writeFails : {false, true}) {
        PngRecovery recovery;
        png_structp png =
            png_create_write_struct(PNG_LIBPNG_VER_STRING, &recovery, reportLibpngError, reportLibpngWarning);
        ASSERT_NE(png, nullptr);
        std::string written;
        png_set_write_fn(png, &written, writeFails ? failTheWrite : appendToString, flushNothing);
        const uint8_t data[3] = {1, 2, 3};
        testing::internal::CaptureStderr();
        recovery.armed = true;
        bool ok = writeIdatChunk(png, data, sizeof data);
        png_warning(png, "key\x01word");
        recovery.armed = false;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, !writeFails);
        EXPECT_EQ(png_get_error_ptr(png), static_cast<void*>(&recovery));
        EXPECT_EQ(written.size(), writeFails ? 0u : 3u + 12u);
        EXPECT_NE(err.find("libpng warning: key\\x01word\n"), std::string::npos) << err;
        EXPECT_EQ(err.find('\x01'), std::string::npos) << err;
        png_destroy_write_struct(&png, nullptr);
    }
}

}  // namespace
