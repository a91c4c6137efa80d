// The answer-to-reset decoder: any bytes are read without a fault and give a
// coherent answer; a well-formed answer stops being one as soon as a byte is
// cut off, added or its check byte changed.
//
// Input: the bytes a reader reports as the card's answer-to-reset.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "pcsc/Atr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pcsc::Bytes atr(data, data + size);
    const pcsc::AtrInfo info = pcsc::DecodeAtr(atr);

    for (std::size_t i = 0; i < info.protocols.size(); ++i) {
        FUZZ_CHECK(info.protocols[i] < 15);
        FUZZ_CHECK(std::count(info.protocols.begin(), info.protocols.end(), info.protocols[i]) ==
                   1);
    }
    FUZZ_CHECK(info.historical.size() <= 15);
    FUZZ_CHECK(!info.fi || (*info.fi >= 372 && *info.fi <= 2048));
    FUZZ_CHECK(!info.di || (*info.di >= 1 && *info.di <= 64));
    FUZZ_CHECK(
        (info.convention == pcsc::AtrConvention::Unknown) ==
        (info.problem == pcsc::AtrProblem::Empty || info.problem == pcsc::AtrProblem::InvalidTs));
    if (!info.Valid()) return 0;

    // A well-formed answer.
    FUZZ_CHECK(size >= 2);
    FUZZ_CHECK(info.historical.size() == (data[1] & 0x0FU));
    FUZZ_CHECK(!info.protocols.empty());
    FUZZ_CHECK(info.tckRequired || (info.protocols.size() == 1 && info.protocols[0] == 0));
    // Every shorter answer is cut (a long chain of TD bytes only sampled).
    const std::size_t step = size > 64 ? size / 32 : 1;
    for (std::size_t length = 1; length < size; length += step) {
        const pcsc::AtrInfo cut = pcsc::DecodeAtr({data, length});
        FUZZ_CHECK(cut.problem == pcsc::AtrProblem::Truncated);
    }
    pcsc::Bytes longer = atr;
    longer.push_back(0x00);
    FUZZ_CHECK(pcsc::DecodeAtr(longer).problem == pcsc::AtrProblem::ExtraBytes);
    if (info.tckRequired) {
        pcsc::Bytes changed = atr;
        changed.back() ^= 0x01;
        FUZZ_CHECK(pcsc::DecodeAtr(changed).problem == pcsc::AtrProblem::WrongTck);
    }
    return 0;
}
