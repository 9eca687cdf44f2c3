#pragma once
// Processor feature record: which x86-64 instruction-set extensions this
// processor offers, read once through CPUID before main and only read after.

#include <bitset>
#include <cstdint>

namespace hxcrypto {

class cpu_info {
public:
    // Register values of the CPUID leaves the record keeps, plus the low
    // half of XCR0 (the register-state components the operating system saves).
    struct registers {
        uint32_t ecx1 = 0;   // CPUID leaf 1, ECX
        uint32_t edx1 = 0;   // CPUID leaf 1, EDX
        uint32_t ebx7 = 0;   // CPUID leaf 7 sub-leaf 0, EBX
        uint32_t ecx7 = 0;   // CPUID leaf 7 sub-leaf 0, ECX
        uint32_t ecx81 = 0;  // CPUID leaf 0x80000001, ECX
        uint32_t edx81 = 0;  // CPUID leaf 0x80000001, EDX
        uint32_t xcr0 = 0;   // XGETBV(0), low 32 bits; 0 unless CPUID reports OSXSAVE
    };

    // Stand-ins for the two instructions, so that a test can play a processor.
    // cpuid writes EAX, EBX, ECX, EDX of (leaf, subleaf) into out[0..3].
    using cpuid_function = void (*)(uint32_t leaf, uint32_t subleaf, uint32_t out[4]);
    using xgetbv_function = uint64_t (*)(uint32_t index);

    // Reads the leaves the record keeps, each only when the processor offers it
    // (leaf 1 when leaf 0 reports a highest leaf above 0, leaf 7 above 6, leaf
    // 0x80000001 when 0x80000000 reports above 0x80000000); a leaf not offered
    // leaves its registers zero. XCR0 is read only when OSXSAVE is reported.
    static registers read_registers(cpuid_function cpuid, xgetbv_function xgetbv);

    // This processor's CPUID and XGETBV (x86-64; elsewhere both give zeros).
    static void native_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t out[4]);
    static uint64_t native_xgetbv(uint32_t index);

    class cpu_info_impl {
    public:
        // Fills the record from this processor.
        cpu_info_impl();
        // Fills the record from register values already read (tests, stand-ins).
        explicit cpu_info_impl(const registers& regs);

        bool sse2() const { return edx1_[26]; }
        bool sse41() const { return ecx1_[19]; }
        bool avx() const { return ecx1_[28]; }
        bool avx2() const { return ebx7_[5]; }
        bool bmi2() const { return ebx7_[8]; }
        bool ssse3() const { return ecx1_[9]; }
        bool aesni() const { return ecx1_[25]; }
        bool mmx() const { return edx1_[23]; }
        // The operating system uses XSAVE (CPUID OSXSAVE) and saves both the
        // SSE and the AVX register state (XCR0 bits 1 and 2): only then may
        // 256-bit registers be used.
        bool os_saves_ymm() const { return ecx1_[27] && xcr0_[1] && xcr0_[2]; }

    private:
        std::bitset<32> ecx1_;
        std::bitset<32> edx1_;
        std::bitset<32> ebx7_;
        std::bitset<32> ecx7_;
        std::bitset<32> ecx81_;
        std::bitset<32> edx81_;
        std::bitset<32> xcr0_;
    };

    // The record of this processor, filled before main.
    static const cpu_info_impl& features() { return impl_; }

    static bool sse2() { return impl_.sse2(); }
    static bool sse41() { return impl_.sse41(); }
    static bool avx() { return impl_.avx(); }
    static bool avx2() { return impl_.avx2(); }
    static bool bmi2() { return impl_.bmi2(); }
    static bool ssse3() { return impl_.ssse3(); }
    static bool aesni() { return impl_.aesni(); }
    static bool mmx() { return impl_.mmx(); }
    static bool os_saves_ymm() { return impl_.os_saves_ymm(); }

private:
    static cpu_info_impl impl_;
};

}  // namespace hxcrypto
