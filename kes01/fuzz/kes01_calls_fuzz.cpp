// Feeds random sequences of calls and data through the seven exports. A model
// of each context predicts every result code; every digest read is compared
// with OpenSSL's digest of the same bytes. Any difference aborts, so the
// fuzzer reports it as a crash.
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kes01/kes01.h"

namespace {

enum class Modeled { kNone, kAccepting, kFinalized };

struct Slot {
    SHAContextHandle handle = 0;
    Modeled state = Modeled::kNone;
    std::string message;         // bytes fed since create or initialize
    SHAContextHandle stale = 0;  // the last handle destroyed in this slot
};

class Input {
  public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_offset >= m_size; }
    uint8_t byte() { return empty() ? 0 : m_data[m_offset++]; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return v;
    }
    // Up to `want` bytes from the input; fewer when it runs out.
    std::string bytes(size_t want) {
        const size_t n = std::min(want, m_size - std::min(m_offset, m_size));
        std::string out(reinterpret_cast<const char*>(m_data + m_offset), n);
        m_offset += n;
        return out;
    }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

void expect(bool condition) {
    if (!condition) std::abort();
}

void expectCode(int32_t got, int32_t expected) { expect(got == expected); }

std::string referenceText(const std::string& message) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    expect(EVP_Digest(message.data(), message.size(), md, &length, EVP_sha1(), nullptr) == 1);
    expect(length == 20);
    uint32_t words[5];
    for (int i = 0; i < 5; ++i) {
        words[i] = (uint32_t(md[4 * i]) << 24) | (uint32_t(md[4 * i + 1]) << 16) |
                   (uint32_t(md[4 * i + 2]) << 8) | uint32_t(md[4 * i + 3]);
    }
    char text[KES01_HASH_STRING_SIZE];
    std::snprintf(text, sizeof text, "%08x-%08x-%08x-%08x-%08x", words[0], words[1], words[2],
                  words[3], words[4]);
    return text;
}

// The code a call on `slot` must give: handle first, then state, then argument.
int32_t predicted(const Slot& slot, bool needsAccepting, bool needsFinalized, bool badArgument) {
    if (slot.state == Modeled::kNone) return KES01_INVALID_HANDLE;
    if (needsAccepting && slot.state != Modeled::kAccepting) return KES01_NOT_ACCEPTING;
    if (needsFinalized && slot.state != Modeled::kFinalized) return KES01_NOT_FINALIZED;
    if (badArgument) return needsAccepting ? KES01_BAD_LENGTH : KES01_BAD_ARGUMENT;
    return KES01_SUCCESS;
}

void step(Input& in, Slot* slots) {
    const uint8_t op = in.byte();
    Slot& slot = slots[(op >> 4) & 3];
    // A call on a slot without a live context goes to its stale handle (or 0).
    const SHAContextHandle handle = slot.state == Modeled::kNone ? slot.stale : slot.handle;
    switch (op & 15) {
        case 0: {  // create
            if (slot.state != Modeled::kNone) expectCode(SHADestroyContext(slot.handle), 0);
            slot.handle = SHACreateContext();
            expect(slot.handle != 0);
            for (int i = 0; i < 4; ++i)
                expect(&slots[i] == &slot || slots[i].handle != slot.handle);
            slot.state = Modeled::kAccepting;
            slot.message.clear();
            break;
        }
        case 1:
            expectCode(SHAInitialize(handle), predicted(slot, false, false, false));
            if (slot.state != Modeled::kNone) {
                slot.state = Modeled::kAccepting;
                slot.message.clear();
            }
            break;
        case 2:
        case 3:
        case 4: {  // update: short, block-sized or long pieces, sometimes a bad length
            const uint8_t shape = in.byte();
            size_t want = shape & 0x3F;
            if ((op & 15) == 3) want = 64 * (shape & 7) + (in.byte() & 0x7F);
            if ((op & 15) == 4) want = size_t(in.byte()) << 4;
            const std::string piece = in.bytes(want);
            int32_t length = int32_t(piece.size());
            const void* data = piece.data();
            bool bad = false;
            if (shape >= 0xF0) {
                length = -1 - int32_t(shape & 0x0F);
                bad = true;
            } else if (shape >= 0xE8 && length > 0) {
                data = nullptr;
                bad = true;
            }
            const int32_t expected = predicted(slot, true, false, bad);
            expectCode(SHAUpdateHash(handle, data, length), expected);
            if (expected == KES01_SUCCESS) slot.message += piece;
            break;
        }
        case 5:
            expectCode(SHAFinalize(handle), predicted(slot, true, false, false));
            if (slot.state == Modeled::kAccepting) slot.state = Modeled::kFinalized;
            break;
        case 6: {
            const int32_t index = int32_t(int8_t(in.byte())) % 8;
            uint32_t value = 0xA5A5A5A5;
            const int32_t expected = predicted(slot, false, true, index < 0 || index > 4);
            expectCode(SHAGetHashValue(handle, index, &value), expected);
            if (expected != KES01_SUCCESS) {
                expect(value == 0xA5A5A5A5);
            } else {
                const std::string text = referenceText(slot.message);
                expect(std::strtoul(text.substr(size_t(index) * 9, 8).c_str(), nullptr, 16) ==
                       value);
            }
            break;
        }
        case 7: {
            char buffer[KES01_HASH_STRING_SIZE + 3];
            std::memset(buffer, '#', sizeof buffer);
            const int32_t expected = predicted(slot, false, true, false);
            expectCode(SHAGetHashString(handle, buffer), expected);
            if (expected == KES01_SUCCESS) {
                expect(referenceText(slot.message) == buffer);
                expect(buffer[KES01_HASH_STRING_SIZE] == '#');
            } else {
                for (char c : buffer) expect(c == '#');
            }
            break;
        }
        case 8:
            expectCode(SHADestroyContext(handle), predicted(slot, false, false, false));
            if (slot.state != Modeled::kNone) {
                slot.stale = slot.handle;
                slot.state = Modeled::kNone;
                slot.handle = 0;
            }
            break;
        case 9: {  // a value that never was a handle, pointing into our own memory
            alignas(8) uint8_t imitation[32] = {0xEB, 0xFE, 2};
            const SHAContextHandle foreign =
                (in.byte() & 1) ? SHAContextHandle(reinterpret_cast<intptr_t>(imitation))
                                : SHAContextHandle(intptr_t(in.u32()) << 16) | 1;
            bool isLive = false;
            for (int i = 0; i < 4; ++i) isLive |= slots[i].handle == foreign;
            if (!isLive) expectCode(SHAFinalize(foreign), KES01_INVALID_HANDLE);
            expect(imitation[0] == 0xEB && imitation[2] == 2);
            break;
        }
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Slot slots[4];
    for (int steps = 0; steps < 4096 && !in.empty(); ++steps) step(in, slots);
    for (Slot& slot : slots) {
        if (slot.state != Modeled::kNone) expectCode(SHADestroyContext(slot.handle), 0);
    }
    return 0;
}
