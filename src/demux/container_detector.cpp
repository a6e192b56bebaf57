#include "demux/container_detector.h"

#include <cstring>

#include "input/start_codes.h"

namespace d2u {
namespace {

constexpr size_t kTimeCodeSize = 4;
constexpr size_t kSyncPacketsToAgree = 8;
constexpr size_t kFewestSyncPackets = 3;
// How far into the file the first transport packet may begin.
constexpr size_t kTransportSearch = 8 * 1024;
constexpr uint8_t kPackHeaderCode = 0xBA;
constexpr uint8_t kFirstSystemCode = 0xB9;

size_t SyncRun(const uint8_t* data, size_t length, size_t at, size_t period, size_t most) {
    size_t run = 0;
    while (run < most && at + run * period < length &&
           data[at + run * period] == kTransportSyncByte) {
        ++run;
    }
    return run;
}

bool DetectTransport(const uint8_t* head, size_t length, size_t period, ContainerGuess& guess) {
    const size_t prefix = period - kTransportPacket;
    const size_t searchEnd =
        kTransportSearch + prefix < length ? kTransportSearch + prefix : length;
    size_t at = prefix;
    if (!FindTransportSync(head, searchEnd, period, 1, at)) return false;
    for (; at < searchEnd; ++at) {
        size_t available = (length - at + period - 1) / period;
        size_t wanted = available < kSyncPacketsToAgree ? available : kSyncPacketsToAgree;
        if (wanted < kFewestSyncPackets) return false;
        if (SyncRun(head, length, at, period, wanted) == wanted) {
            guess.kind = period == kTransportPacket ? ContainerKind::kTransport
                                                    : ContainerKind::kTransport192;
            guess.firstPacket = at - prefix;
            return true;
        }
    }
    return false;
}

// The start code values in order of appearance, up to the first sequence header.
bool FirstStartCodes(const uint8_t* head, size_t length, uint8_t& first,
                     bool& systemCodeBeforeSequence, bool& sequenceHeader) {
    bool any = false;
    systemCodeBeforeSequence = false;
    sequenceHeader = false;
    for (size_t at = 0; at + 4 <= length; ++at) {
        if (head[at + 2] != 1 || head[at + 1] != 0 || head[at] != 0) continue;
        uint8_t code = head[at + 3];
        if (!any) first = code;
        any = true;
        if (code == kSequenceHeaderCode) {
            sequenceHeader = true;
            break;
        }
        if (code >= kFirstSystemCode) systemCodeBeforeSequence = true;
    }
    return any;
}

}  // namespace

bool FindTransportSync(const uint8_t* data, size_t length, size_t period, size_t count,
                       size_t& offset) {
    for (size_t at = offset; at < length; ++at) {
        if (data[at] != kTransportSyncByte) continue;
        size_t available = (length - at + period - 1) / period;
        size_t wanted = available < count ? available : count;
        if (SyncRun(data, length, at, period, wanted) == wanted) {
            offset = at;
            return true;
        }
    }
    return false;
}

ContainerGuess DetectContainer(const uint8_t* head, size_t length) {
    ContainerGuess guess;
    if (length >= 8 && std::memcmp(head + 4, "ftyp", 4) == 0) {
        guess.kind = ContainerKind::kIsoMedia;
        return guess;
    }
    if (DetectTransport(head, length, kTransportPacket, guess) ||
        DetectTransport(head, length, kTransportPacket + kTimeCodeSize, guess)) {
        return guess;
    }
    uint8_t first = 0;
    bool systemCode = false, sequenceHeader = false;
    if (!FirstStartCodes(head, length, first, systemCode, sequenceHeader)) return guess;
    if (first == kPackHeaderCode) {
        guess.kind = ContainerKind::kProgram;
    } else if (sequenceHeader && !systemCode) {
        guess.kind = ContainerKind::kElementary;
    }
    return guess;
}

}  // namespace d2u
