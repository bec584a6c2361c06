// libFuzzer target: the profile engine with its encoding detection, on
// arbitrary configuration file contents.
//
// Input: the bytes of a file.
//
// Checked: no memory error or undefined behaviour; parsing and serializing
// gives the bytes back; a key written into a new section leaves every byte in
// place, keeps the encoding and reads back, and so does a key replaced in a
// section the station reads; the same bytes loaded from a file give the same
// keys, or, when they are no text, an empty document that says why and is not
// saved over the file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/profile.h"

namespace {

using karvelo::fuzz::Check;
using karvelo::platform::ProfileDocument;
using karvelo::platform::ProfileSource;

struct Probe {
    const wchar_t* section;
    const wchar_t* key;
};

// Keys the station reads, in the spellings files have.
constexpr Probe kProbes[] = {
    {L"WINDOW", L"maxno"},  {L"window", L"X"},    {L"MAIN", L"cfg"},
    {L"IDNR", L"textlast"}, {L"DEVICE1", L"typ"}, {L"device10", L"TITLE"},
    {L"EXPORT", L"path"},   {L"PORTS", L"COM3"},  {L"\u00C4", L"\u00B5"},
};

bool HasOddTail(std::string_view bytes) {
    return (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) &&
           bytes.size() % 2 == 1;
}

void CheckNewSection(const ProfileDocument& parsed, std::string_view bytes) {
    ProfileDocument doc = parsed;
    Check(doc.Set(L"zz new section", L"key", L"value \u00B5"));
    const std::string out = doc.Serialize();
    const std::string_view kept = HasOddTail(bytes) ? bytes.substr(0, bytes.size() - 1) : bytes;
    Check(std::string_view(out).substr(0, kept.size()) == kept);
    if (HasOddTail(bytes)) Check(out.back() == bytes.back());
    const ProfileDocument again = ProfileDocument::Parse(out);
    Check(again.encoding() == doc.encoding());
    // U+00B5 exists in every encoding a file can have.
    Check(again.Find(L"ZZ NEW SECTION", L"KEY") == std::wstring(L"value \u00B5"));
}

void CheckReplacedKey(const ProfileDocument& parsed) {
    for (const Probe& p : kProbes) {
        ProfileDocument doc = parsed;
        Check(doc.Set(p.section, p.key, L"1234"));
        const ProfileDocument again = ProfileDocument::Parse(doc.Serialize());
        Check(again.Find(p.section, p.key) == std::wstring(L"1234"));
    }
}

void CheckLoadedFile(const ProfileDocument& parsed, std::string_view bytes) {
    const std::string path = karvelo::fuzz::ScratchFolder() + "/karvelo.cfg";
    karvelo::fuzz::WriteFile(path, bytes);
    const ProfileDocument loaded = ProfileDocument::Load(path);
    if (loaded.source() == ProfileSource::Read) {
        Check(loaded.exists() && loaded.Problem().empty());
        Check(loaded.encoding() == parsed.encoding());
        for (const Probe& p : kProbes)
            Check(loaded.Find(p.section, p.key) == parsed.Find(p.section, p.key));
        return;
    }
    Check(loaded.source() == ProfileSource::NotText);
    Check(!loaded.exists() && !loaded.Problem().empty());
    for (const Probe& p : kProbes) Check(!loaded.Find(p.section, p.key).has_value());
    // Its keys are not the file's: a save must not replace the file.
    ProfileDocument edited = loaded;
    Check(edited.Set(L"WINDOW", L"maxno", L"2"));
    Check(!edited.Save(path));
    Check(karvelo::fuzz::ReadFile(path) == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ProfileDocument parsed = ProfileDocument::Parse(bytes);
    Check(parsed.Serialize() == bytes);
    for (const Probe& p : kProbes) (void)parsed.ReadString(p.section, p.key, L"default");
    CheckNewSection(parsed, bytes);
    CheckReplacedKey(parsed);
    CheckLoadedFile(parsed, bytes);
    return 0;
}
