#include "devices/device_set.h"

#include <algorithm>
#include <string>

#include "devices/catalogue.h"
#include "platform/wait.h"

namespace karvelo::devices {

std::string_view StatusWordFor(const DeviceType& type, int code) {
    const StatusRule* rule = type.status;
    if (rule == nullptr) return {};
    if (code == kStoredOrSendFlag1 && rule->storedWord) return "stored";
    if (code > 0 || code < -5) return {};
    const char* w = rule->words[static_cast<std::size_t>(-code)];
    return w ? std::string_view(w) : std::string_view();
}

DeviceSet::DeviceSet(RunState& run, std::vector<std::unique_ptr<Backend>> backends,
                     TextSlotReader textReader)
    : run_(run), backends_(std::move(backends)), textReader_(std::move(textReader)) {}

void DeviceSet::OpenAll(WindowPort& window) {
    for (const auto& b : backends_) b->OpenAll(window);
}

void DeviceSet::CloseAll() {
    for (const auto& b : backends_) b->CloseAll();
}

Backend* DeviceSet::BackendFor(Transport transport) const {
    for (const auto& b : backends_) {
        if (b->transport() == transport) return b.get();
    }
    return nullptr;
}

void DeviceSet::ShowWord(int s, std::string_view word) {
    run_.StatusText[s] = std::wstring(word.begin(), word.end());
    run_.ValueReady[s] = true;
    run_.ValueError[s] = true;
}

void DeviceSet::Request(int s) {
    const DeviceType& type = DeviceTypeOf(run_.DeviceType[s]);
    if (type.request.action == RequestAction::Nothing) return;
    Backend* backend = BackendFor(type.transport);
    const RequestOutcome outcome =
        backend ? backend->Request(s, type) : RequestOutcome::DeviceMissing;
    switch (outcome) {
        case RequestOutcome::Sent:
            run_.StatusText[s].Clear();
            break;
        case RequestOutcome::DeviceMissing:
            ShowWord(s, type.MissingWord());
            break;
        case RequestOutcome::Refused: {
            const std::string_view word = StatusWordFor(type, kDeviceFault);
            run_.StatusText[s] = std::wstring(word.begin(), word.end());
            break;
        }
    }
    if (type.request.closingWaitMs > 0) platform::PumpWait(type.request.closingWaitMs);
}

ReadOutcome DeviceSet::ReadTextSlot(int s) {
    if (run_.TextSource[s] == 0 || (textReader_ && textReader_(s))) {
        run_.ValueReady[s] = true;
        run_.ValueError[s] = false;
    }
    // A text never completes a record by itself.
    return ReadOutcome::NothingNew;
}

ReadOutcome DeviceSet::Read(int s, bool requested) {
    const DeviceType& type = DeviceTypeOf(run_.DeviceType[s]);
    if (type.transport == Transport::Text) return ReadTextSlot(s);
    if (type.Has(kRequestOnlyAfterTrigger) && !requested) return ReadOutcome::NothingNew;
    const StatusRule* rule = type.status;
    if (rule == nullptr) return ReadOutcome::NothingNew;  // free and unknown codes give nothing

    Backend* backend = BackendFor(type.transport);
    const ReaderResult code = backend ? backend->Read(s, requested, type) : kNotOpen;

    if (!requested && code == kNoAnswer) return ReadOutcome::NothingNew;
    if (rule->silentMisses && (code == kNoAnswer || code == kDeviceFault))
        return ReadOutcome::NothingNew;
    const auto show = [&](std::wstring_view status) {
        run_.StatusText[s] = status;
        run_.ValueReady[s] = true;
        run_.ValueError[s] = false;
    };
    if (code == kValueStored) {
        show(L"");
        return ReadOutcome::Shown;
    }
    if ((code == kStoredOrSendFlag1 || code == kSendFlag2) && rule->sendFlags) {
        show(L"");
        return code == kSendFlag2 ? ReadOutcome::SendFlag2 : ReadOutcome::SendFlag1;
    }
    if (code == kStoredOrSendFlag1 && rule->storedWord) {
        show(L"stored");
        return ReadOutcome::StatusShown;
    }
    if (code <= 0) {
        const std::string_view word = StatusWordFor(type, code);
        if (!word.empty()) ShowWord(s, word);
    }
    return ReadOutcome::StatusShown;
}

int DeviceSet::SettleDelayMs() const {
    int ms = 0;
    for (int s = 1; s <= kMaxSlots; ++s) {
        const int code = run_.DeviceType[s];
        if (IsInstrumentCode(code) && run_.SendMode[s] == SendModeKind::Automatic) {
            ms = std::max(ms, DeviceTypeOf(code).settleMs);
        }
    }
    return ms;
}

}  // namespace karvelo::devices
