#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/HostBuffer.h"

namespace {

using rkso::GrowLimits;

TEST(SizedText, SizeIsPresetAndTheTextNeverRunsPastIt) {
    short seenLen = 0;
    bool zeroFilled = false;
    auto out = rkso::readSizedText(short(1024), [&](char* buf, short* len) {
        seenLen = *len;
        zeroFilled = std::all_of(buf, buf + 1024, [](char c) { return c == '\0'; });
        std::strcpy(buf, "/dev/sdc");
        return 0;
    });
    EXPECT_EQ(seenLen, 1024);
    EXPECT_TRUE(zeroFilled);
    EXPECT_EQ(out.text, "/dev/sdc");
    // A host that fills every byte without a terminator is cut at the size.
    out = rkso::readSizedText(short(16), [](char* buf, short* len) {
        std::memset(buf, 'A', static_cast<size_t>(*len));
        return 0;
    });
    EXPECT_EQ(out.text, std::string(16, 'A'));
    out = rkso::readSizedText(short(8), [](char*, short*) { return 1; });
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, "");
    out = rkso::readSizedText(1023, [](char* buf, int*) { std::strcpy(buf, "v"); });
    EXPECT_EQ(out.text, "v") << "an operation without a result";
    out = rkso::readSizedText(short(0), [](char*, short*) { return ADD_FAILURE(), 0; });
    EXPECT_EQ(out.text, "");
}

// A host that needs text plus its terminator: asks for that size until given it.
std::function<int(char*, int)> needing(std::string text) {
    return [text](char* buf, int size) {
        int need = static_cast<int>(text.size()) + 1;
        if (!buf || size < need) return need;
        std::memcpy(buf, text.c_str(), static_cast<size_t>(need));
        return 0;
    };
}

TEST(GrowAndRetry, GrowsToTheSizeAskedWithinTheLimits) {
    const std::string engine = "{SnapVendorName:LSI,Capabilities:3}";
    struct Row {
        const char* name;
        GrowLimits limits;
        std::function<int(char*, int)> host;
        int result;
        std::string text;
        std::vector<int> sizes;  // per call; -1 when no buffer was handed over
    } rows[] = {
        // clang-format off
        {"no first buffer", {0, 3, rkso::kMaxShortBuffer}, needing("a1*a2"), 0, "a1*a2", {-1, 6}},
        {"first buffer large enough", {1024, 8, rkso::kMaxShortBuffer}, needing(engine), 0, engine, {1024}},
        {"call limit", {16, 3, rkso::kMaxShortBuffer}, [](char*, int s) { return s + 10; }, 46, "", {16, 26, 36}},
        {"first size above the limit", {4096, 3, 100}, needing("abc"), 0, "abc", {100}},
        {"done before any buffer", {0, 3, 100}, [](char*, int) { return 0; }, 0, "", {-1}},
        {"size limit", {16, 5, 1000}, [](char*, int) { return 1'000'000; }, 1'000'000, "", {16}},
        {"host failure", {4096, 5, rkso::kMaxIntBuffer}, [](char*, int) { return -3; }, -3, "", {4096}},
        {"unterminated text", {8, 2, 100}, [](char* buf, int size) { return std::memset(buf, 'Z', size_t(size)), 0; }, 0, "ZZZZZZZZ", {8}},
        // clang-format on
    };
    for (const Row& row : rows) {
        std::vector<int> sizes;
        auto out = rkso::growAndRetry(row.limits, [&](char* buf, int size) {
            sizes.push_back(buf ? size : -1);
            return row.host(buf, size);
        });
        EXPECT_EQ(out.result, row.result) << row.name;
        EXPECT_EQ(out.text, row.text) << row.name;
        EXPECT_EQ(sizes, row.sizes) << row.name;
    }
}

}  // namespace
