#include "crypto/hxcrypto/cpuinfo.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace hxcrypto {

void cpu_info::native_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t out[4]) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned int a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, subleaf, a, b, c, d);
    out[0] = a;
    out[1] = b;
    out[2] = c;
    out[3] = d;
#else
    (void)leaf;
    (void)subleaf;
    out[0] = out[1] = out[2] = out[3] = 0;
#endif
}

uint64_t cpu_info::native_xgetbv(uint32_t index) {
#if defined(__x86_64__) || defined(__i386__)
    uint32_t lo = 0, hi = 0;
    // Encoded as bytes: the mnemonic needs an assembler that knows XSAVE.
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(index));
    return (static_cast<uint64_t>(hi) << 32) | lo;
#else
    (void)index;
    return 0;
#endif
}

cpu_info::registers cpu_info::read_registers(cpuid_function cpuid, xgetbv_function xgetbv) {
    registers regs;
    uint32_t out[4] = {0, 0, 0, 0};

    cpuid(0, 0, out);
    const uint32_t max_standard = out[0];
    if (max_standard > 0) {
        cpuid(1, 0, out);
        regs.ecx1 = out[2];
        regs.edx1 = out[3];
    }
    if (max_standard > 6) {
        cpuid(7, 0, out);
        regs.ebx7 = out[1];
        regs.ecx7 = out[2];
    }

    cpuid(0x80000000u, 0, out);
    if (out[0] > 0x80000000u) {
        cpuid(0x80000001u, 0, out);
        regs.ecx81 = out[2];
        regs.edx81 = out[3];
    }

    // XGETBV raises an invalid-opcode fault unless the OS has enabled XSAVE.
    const bool osxsave = (regs.ecx1 >> 27) & 1u;
    if (osxsave)
        regs.xcr0 = static_cast<uint32_t>(xgetbv(0));
    return regs;
}

cpu_info::cpu_info_impl::cpu_info_impl() : cpu_info_impl(read_registers(native_cpuid, native_xgetbv)) {}

cpu_info::cpu_info_impl::cpu_info_impl(const registers& regs)
    : ecx1_(regs.ecx1),
      edx1_(regs.edx1),
      ebx7_(regs.ebx7),
      ecx7_(regs.ecx7),
      ecx81_(regs.ecx81),
      edx81_(regs.edx81),
      xcr0_(regs.xcr0) {}

// Filled ahead of the ordinary static objects of the program, so that hash
// objects built during static initialisation already see the real record.
cpu_info::cpu_info_impl cpu_info::impl_ __attribute__((init_priority(101)));

}  // namespace hxcrypto
