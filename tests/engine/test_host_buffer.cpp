#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/HostBuffer.h"

namespace {

using rkso::growAndRetry;
using rkso::GrowLimits;
using rkso::readSizedText;

TEST(SizedText, PresetsSizeAndZeroFilledBuffer) {
    short seenLen = 0;
    bool zeroFilled = false;
    auto out = readSizedText(static_cast<short>(1024), [&](char* buf, short* len) {
        seenLen = *len;
        zeroFilled = std::all_of(buf, buf + 1024, [](char c) { return c == '\0'; });
        std::strcpy(buf, "/dev/sdc");
        return 0;
    });
    EXPECT_EQ(seenLen, 1024);
    EXPECT_TRUE(zeroFilled);
    EXPECT_EQ(out.text, "/dev/sdc");
    EXPECT_EQ(out.result, 0);
}

TEST(SizedText, HostThatFillsEveryByteWithoutTerminatorIsCutAtTheSize) {
    auto out = readSizedText(static_cast<short>(16), [](char* buf, short* len) {
        std::memset(buf, 'A', static_cast<size_t>(*len));
        return 0;
    });
    EXPECT_EQ(out.text, std::string(16, 'A'));
}

TEST(SizedText, ResultOfTheHostIsReturnedAndVoidOperationsWork) {
    auto failed = readSizedText(static_cast<short>(8), [](char*, short*) { return 1; });
    EXPECT_EQ(failed.result, 1);
    EXPECT_EQ(failed.text, "");
    auto voidCall = readSizedText(1023, [](char* buf, int* len) {
        EXPECT_EQ(*len, 1023);
        std::strcpy(buf, "v");
    });
    EXPECT_EQ(voidCall.text, "v");
    auto none = readSizedText(static_cast<short>(0), [](char*, short*) {
        ADD_FAILURE() << "no call for a zero size";
        return 0;
    });
    EXPECT_EQ(none.text, "");
}

// A host that needs `need` bytes and fails on demand.
struct GrowingHost {
    std::string text;
    std::vector<int> sizesSeen;
    std::vector<bool> hadBuffer;
    int operator()(char* buf, int size) {
        sizesSeen.push_back(size);
        hadBuffer.push_back(buf != nullptr);
        int need = static_cast<int>(text.size()) + 1;
        if (!buf || size < need) return need;
        std::memcpy(buf, text.c_str(), static_cast<size_t>(need));
        return 0;
    }
};

TEST(GrowAndRetry, StartsWithoutBufferThenUsesTheSizeNeeded) {
    GrowingHost host{"array1*array2", {}, {}};
    auto out = growAndRetry(GrowLimits{0, 3, rkso::kMaxShortBuffer}, std::ref(host));
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.text, "array1*array2");
    EXPECT_EQ(host.sizesSeen, (std::vector<int>{0, 14}));
    EXPECT_EQ(host.hadBuffer, (std::vector<bool>{false, true}));
}

TEST(GrowAndRetry, FirstBufferLargeEnoughNeedsOneCall) {
    GrowingHost host{"{SnapVendorName:LSI,Capabilities:3}", {}, {}};
    auto out = growAndRetry(GrowLimits{1024, 8, rkso::kMaxShortBuffer}, std::ref(host));
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.text, host.text);
    EXPECT_EQ(host.sizesSeen.size(), 1u);
}

TEST(GrowAndRetry, GivesUpAfterTheCallLimit) {
    int calls = 0;
    // A host that always asks for more than it was given.
    auto out = growAndRetry(GrowLimits{16, 3, rkso::kMaxShortBuffer}, [&](char*, int size) {
        ++calls;
        return size + 10;
    });
    EXPECT_EQ(calls, 3);
    EXPECT_GT(out.result, 0);
    EXPECT_EQ(out.text, "");
}

TEST(GrowAndRetry, RefusesASizeAboveTheLimit) {
    int calls = 0;
    auto out = growAndRetry(GrowLimits{16, 5, 1000}, [&](char*, int) {
        ++calls;
        return 1'000'000;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_GT(out.result, 0);
}

TEST(GrowAndRetry, HostFailureIsReturnedAsIs) {
    auto out =
        growAndRetry(GrowLimits{4096, 5, rkso::kMaxIntBuffer}, [](char*, int) { return -3; });
    EXPECT_EQ(out.result, -3);
    EXPECT_EQ(out.text, "");
}

TEST(GrowAndRetry, UnterminatedTextStaysInsideTheBuffer) {
    auto out = growAndRetry(GrowLimits{8, 2, 100}, [](char* buf, int size) {
        std::memset(buf, 'Z', static_cast<size_t>(size));
        return 0;
    });
    EXPECT_EQ(out.text, std::string(8, 'Z'));
}

}  // namespace
