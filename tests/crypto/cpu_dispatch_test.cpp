#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/hxcrypto/3rdparty/sha256_kernels.h"
#include "crypto/hxcrypto/cpuinfo.h"
#include "crypto/hxcrypto/sha256.h"
#include "tests/crypto/hash_test_util.h"

using hxcrypto::cpu_info;
using hxcrypto::sha256_kernel;

namespace {

// Register bits of the features the block-function choice looks at.
constexpr uint32_t kSse2 = 1u << 26;     // leaf 1 EDX
constexpr uint32_t kSse41 = 1u << 19;    // leaf 1 ECX
constexpr uint32_t kOsxsave = 1u << 27;  // leaf 1 ECX
constexpr uint32_t kAvx2 = 1u << 5;      // leaf 7 EBX
constexpr uint32_t kBmi2 = 1u << 8;      // leaf 7 EBX
constexpr uint32_t kXcr0SseAvx = 0x6;    // XCR0: SSE and AVX state saved

cpu_info::registers regs(uint32_t ecx1, uint32_t edx1, uint32_t ebx7, uint32_t xcr0) {
    cpu_info::registers r;
    r.ecx1 = ecx1;
    r.edx1 = edx1;
    r.ebx7 = ebx7;
    r.xcr0 = xcr0;
    return r;
}

TEST(Sha256KernelChoice, ForGivenFeatureRecords) {
    struct Case {
        const char* name;
        cpu_info::registers r;
        sha256_kernel expected;
    };
    const uint32_t all_ecx = kSse41 | kOsxsave;
    const Case cases[] = {
        {"everything", regs(all_ecx, kSse2, kAvx2 | kBmi2, kXcr0SseAvx), sha256_kernel::rorx},
        {"without AVX2", regs(all_ecx, kSse2, kBmi2, kXcr0SseAvx), sha256_kernel::sse4},
        {"without BMI2", regs(all_ecx, kSse2, kAvx2, kXcr0SseAvx), sha256_kernel::sse4},
        {"without OSXSAVE", regs(kSse41, kSse2, kAvx2 | kBmi2, kXcr0SseAvx), sha256_kernel::sse4},
        {"OS saves no AVX state", regs(all_ecx, kSse2, kAvx2 | kBmi2, 0x2), sha256_kernel::sse4},
        {"OS saves no SSE state", regs(all_ecx, kSse2, kAvx2 | kBmi2, 0x4), sha256_kernel::sse4},
        {"AVX2 but no SSE4.1", regs(kOsxsave, kSse2, kAvx2 | kBmi2, kXcr0SseAvx), sha256_kernel::sse2},
        {"SSE4.1 only", regs(kSse41, 0, 0, 0), sha256_kernel::sse4},
        {"SSE2 only", regs(0, kSse2, 0, 0), sha256_kernel::sse2},
        {"none", regs(0, 0, 0, 0), sha256_kernel::portable},
        {"AVX2 alone, nothing else", regs(kOsxsave, 0, kAvx2 | kBmi2, kXcr0SseAvx), sha256_kernel::portable},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hxcrypto::sha256_kernel_name(hxcrypto::choose_sha256_kernel(cpu_info::cpu_info_impl(c.r))),
                  std::string(hxcrypto::sha256_kernel_name(c.expected)))
            << c.name;
}

TEST(CpuInfo, PredicatesTestTheirBits) {
    struct Case {
        const char* name;
        cpu_info::registers r;
        bool (cpu_info::cpu_info_impl::*predicate)() const;
    };
    const Case cases[] = {
        {"sse2", regs(0, kSse2, 0, 0), &cpu_info::cpu_info_impl::sse2},
        {"sse41", regs(kSse41, 0, 0, 0), &cpu_info::cpu_info_impl::sse41},
        {"avx2", regs(0, 0, kAvx2, 0), &cpu_info::cpu_info_impl::avx2},
        {"bmi2", regs(0, 0, kBmi2, 0), &cpu_info::cpu_info_impl::bmi2},
        {"avx", regs(1u << 28, 0, 0, 0), &cpu_info::cpu_info_impl::avx},
        {"ssse3", regs(1u << 9, 0, 0, 0), &cpu_info::cpu_info_impl::ssse3},
        {"aesni", regs(1u << 25, 0, 0, 0), &cpu_info::cpu_info_impl::aesni},
        {"mmx", regs(0, 1u << 23, 0, 0), &cpu_info::cpu_info_impl::mmx},
        {"os_saves_ymm", regs(kOsxsave, 0, 0, kXcr0SseAvx), &cpu_info::cpu_info_impl::os_saves_ymm},
    };
    const cpu_info::cpu_info_impl none(regs(0, 0, 0, 0));
    const cpu_info::cpu_info_impl all(regs(~0u, ~0u, ~0u, ~0u));
    for (const auto& c : cases) {
        EXPECT_TRUE((cpu_info::cpu_info_impl(c.r).*c.predicate)()) << c.name;
        EXPECT_FALSE((none.*c.predicate)()) << c.name;
        EXPECT_TRUE((all.*c.predicate)()) << c.name;
        // Every other single bit leaves the predicate false.
        for (const auto& other : cases) {
            if (other.predicate != c.predicate) {
                EXPECT_FALSE((cpu_info::cpu_info_impl(other.r).*c.predicate)()) << c.name << " by " << other.name;
            }
        }
    }
}

// A stand-in processor: answers CPUID from fixed leaves, reporting highest
// leaves chosen by the test; XGETBV records that it was used.
struct FakeCpu {
    static uint32_t max_standard, max_extended, ecx1;
    static int xgetbv_calls;

    static void cpuid(uint32_t leaf, uint32_t subleaf, uint32_t out[4]) {
        out[0] = out[1] = out[2] = out[3] = 0;
        if (leaf == 0) {
            out[0] = max_standard;
        } else if (leaf == 1) {
            out[2] = ecx1;
            out[3] = kSse2;
        } else if (leaf == 7 && subleaf == 0) {
            out[1] = kAvx2 | kBmi2;
        } else if (leaf == 0x80000000u) {
            out[0] = max_extended;
        } else if (leaf == 0x80000001u) {
            out[2] = 0x1;
            out[3] = 0x2;
        }
        // A real processor answers a leaf above its highest with some other
        // leaf's data; fill in everything to show such answers are not used.
        if (leaf > max_standard && leaf < 0x80000000u)
            out[0] = out[1] = out[2] = out[3] = ~0u;
        if (leaf > max_extended && leaf >= 0x80000000u)
            out[0] = out[1] = out[2] = out[3] = ~0u;
    }
    static uint64_t xgetbv(uint32_t) {
        ++xgetbv_calls;
        return kXcr0SseAvx;
    }
};
uint32_t FakeCpu::max_standard, FakeCpu::max_extended, FakeCpu::ecx1;
int FakeCpu::xgetbv_calls;

TEST(CpuInfo, ReadsOnlyTheLeavesTheProcessorOffers) {
    struct Case {
        const char* name;
        uint32_t max_standard, max_extended, ecx1;
        bool sse2, avx2, os_ymm;
        int xgetbv_calls;
        uint32_t ecx81;
    };
    const Case cases[] = {
        {"all leaves", 13, 0x80000008u, kSse41 | kOsxsave, true, true, true, 1, 0x1},
        {"highest leaf 7", 7, 0x80000001u, kSse41 | kOsxsave, true, true, true, 1, 0x1},
        {"highest leaf 6: no leaf 7", 6, 0x80000008u, kSse41 | kOsxsave, true, false, true, 1, 0x1},
        {"no standard leaf", 0, 0x80000008u, kSse41 | kOsxsave, false, false, false, 0, 0x1},
        {"no extended leaf", 13, 0x80000000u, kSse41 | kOsxsave, true, true, true, 1, 0},
        {"no OSXSAVE: XGETBV not run", 13, 0x80000008u, kSse41, true, true, false, 0, 0x1},
    };
    for (const auto& c : cases) {
        FakeCpu::max_standard = c.max_standard;
        FakeCpu::max_extended = c.max_extended;
        FakeCpu::ecx1 = c.ecx1;
        FakeCpu::xgetbv_calls = 0;
        const cpu_info::registers r = cpu_info::read_registers(FakeCpu::cpuid, FakeCpu::xgetbv);
        const cpu_info::cpu_info_impl impl(r);
        EXPECT_EQ(impl.sse2(), c.sse2) << c.name;
        EXPECT_EQ(impl.avx2(), c.avx2) << c.name;
        EXPECT_EQ(impl.bmi2(), c.avx2) << c.name;
        EXPECT_EQ(impl.os_saves_ymm(), c.os_ymm) << c.name;
        EXPECT_EQ(FakeCpu::xgetbv_calls, c.xgetbv_calls) << c.name;
        EXPECT_EQ(r.ecx81, c.ecx81) << c.name;
    }
}

// The record of this processor agrees with the flags the kernel reports.
TEST(CpuInfo, AgreesWithProcCpuinfo) {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    std::set<std::string> flags;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "flags") != 0)
            continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        for (std::string w; words >> w;)
            flags.insert(w);
        break;
    }
    if (flags.empty())
        GTEST_SKIP() << "no flags line in /proc/cpuinfo";
    EXPECT_EQ(cpu_info::sse2(), flags.count("sse2") == 1);
    EXPECT_EQ(cpu_info::sse41(), flags.count("sse4_1") == 1);
    EXPECT_EQ(cpu_info::ssse3(), flags.count("ssse3") == 1);
    EXPECT_EQ(cpu_info::avx2(), flags.count("avx2") == 1);
    EXPECT_EQ(cpu_info::bmi2(), flags.count("bmi2") == 1);
    EXPECT_EQ(cpu_info::aesni(), flags.count("aes") == 1);
    EXPECT_EQ(cpu_info::mmx(), flags.count("mmx") == 1);
    // The kernel lists avx only when it saves the AVX state itself.
    if (flags.count("avx")) {
        EXPECT_TRUE(cpu_info::os_saves_ymm());
    }
}

// Gives tests the portable block function and the chaining words.
class PortableProbe : public hxcrypto::sha256 {
public:
    PortableProbe() : sha256(sha256_kernel::portable) {}
    void compress(const unsigned char* blocks, uint64_t count) { transform(blocks, count); }
    uint32_t* words() { return H.get(); }
};

struct KernelCase {
    const char* name;
    bool runnable;
    void (*run)(const unsigned char* data, uint32_t* state, uint64_t blocks);
};

std::vector<KernelCase> kernel_cases() {
    const bool ymm = cpu_info::avx2() && cpu_info::bmi2() && cpu_info::os_saves_ymm();
    return {
        {"sha256_sse4", cpu_info::sse41(),
         [](const unsigned char* d, uint32_t* s, uint64_t n) { hxcrypto::sha256_sse4(d, s, n); }},
        {"sha256_rorx", ymm, [](const unsigned char* d, uint32_t* s, uint64_t n) { hxcrypto::sha256_rorx(d, s, n); }},
        {"X86_SHA256_HashBlocks", cpu_info::sse2(),
         [](const unsigned char* d, uint32_t* s, uint64_t n) {
             hxcrypto::X86_SHA256_HashBlocks(s, reinterpret_cast<const uint32_t*>(d), static_cast<size_t>(n) * 64);
         }},
    };
}

// Each kernel leaves the same chaining words as the portable function, for
// 0 to 9 blocks (odd and even counts for the two-block kernel), from an
// arbitrary starting state, on data at several offsets within a 16-byte line.
TEST(Sha256Kernel, LeavesTheSameChainingWordsAsThePortableFunction) {
    const auto data = hash_test::random_bytes(9 * 64 + 16, 99);
    const auto start = hash_test::random_bytes(32, 100);
    int runnable = 0;
    for (const auto& k : kernel_cases()) {
        if (!k.runnable) {
            std::cout << k.name << " not offered by this processor: not checked\n";
            continue;
        }
        ++runnable;
        for (uint64_t blocks = 0; blocks <= 9; ++blocks) {
            for (size_t offset : {0u, 1u, 3u, 4u, 8u, 15u}) {
                PortableProbe reference;
                std::memcpy(reference.words(), start.data(), 32);
                reference.compress(data.data() + offset, blocks);

                alignas(32) uint32_t got[8];
                std::memcpy(got, start.data(), 32);
                k.run(data.data() + offset, got, blocks);
                EXPECT_EQ(hash_test::hex(reinterpret_cast<unsigned char*>(got), 32),
                          hash_test::hex(reinterpret_cast<unsigned char*>(reference.words()), 32))
                    << k.name << ", " << blocks << " blocks at offset " << offset;
            }
        }
    }
    if (runnable == 0)
        GTEST_SKIP() << "this processor runs none of the vector kernels";
}

// The portable function itself: one block of "abc" padded by hand gives the
// FIPS 180-4 chaining words from the initial value.
TEST(Sha256Kernel, PortableFunctionOnOnePaddedBlock) {
    unsigned char block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24;
    PortableProbe p;
    p.init();
    p.compress(block, 1);
    const uint32_t expected[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                  0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(p.words()[i], expected[i]) << "word " << i;
}

}  // namespace
