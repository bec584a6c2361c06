#include "platform/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace karvelo::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            out += c;
        } else {
            out += '\\';
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    return out;
}

// UTF-16LE with mark, written out by hand for BMP text.
std::string Utf16(std::wstring_view text) {
    std::string out = "\xFF\xFE";
    for (const wchar_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return out;
}

// UTF-16BE with mark, for BMP text.
std::string Utf16Be(std::wstring_view text) {
    std::string out = "\xFE\xFF";
    for (const wchar_t c : text) {
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

std::string Edit(std::string_view before, std::wstring_view section, std::wstring_view key,
                 std::wstring_view value) {
    ProfileDocument doc = ProfileDocument::Parse(before);
    EXPECT_TRUE(doc.Set(section, key, value));
    return doc.Serialize();
}

// ---------------------------------------------------------------------------
// Reading

struct FindCase {
    const wchar_t* section;
    const wchar_t* key;
    std::optional<std::wstring> expected;
};

TEST(ProfileFind, FollowsPrivateProfileRules) {
    const std::string file =
        "orphan=before any section\n"
        "[General]\n"
        "  Name  =  Station 1  \r\n"
        "Quoted=\"  spaced  \"\n"
        "Single='x'\n"
        "Mismatch=\"abc'\n"
        "OnlyQuote=\"\n"
        "Twice=\"\"a\"\"\n"
        "Empty=\n"
        "Formula=a=b\n"
        "NoEquals\n"
        ";Comment=hidden\n"
        " \t; Spaced=hidden\n"
        "Dup=first\n"
        "DUP=second\n"
        "\xC3\xA0nit=\xC2\xB5s\n"
        "\xC5\xA1ign=s caron\n"
        "[Broken\n"
        "Tab\t=\tv\t\x0B\x0C\x1A\n"
        " [ Padded ] trailing\n"
        "k=padded\n"
        "[general]\n"
        "Late=only in the duplicate\n"
        "Name=second section\n"
        "[\xC3\x97]\n"
        "sign=times\n";
    const ProfileDocument doc = ProfileDocument::Parse(file);
    const FindCase cases[] = {
        {L"General", L"Name", L"Station 1"},
        {L"GENERAL", L"nAmE", L"Station 1"},
        {L" \tgeneral ", L" name\t", L"Station 1"},
        {L"General", L"Quoted", L"  spaced  "},
        {L"General", L"Single", L"x"},
        {L"General", L"Mismatch", L"\"abc'"},
        {L"General", L"OnlyQuote", L"\""},
        {L"General", L"Twice", L"\"a\""},
        {L"General", L"Empty", L""},
        {L"General", L"Formula", L"a=b"},
        {L"General", L"NoEquals", std::nullopt},
        {L"General", L";Comment", std::nullopt},
        {L"General", L"Comment", std::nullopt},
        {L"General", L"; Spaced", std::nullopt},
        {L"General", L"Dup", L"first"},
        {L"General", L"dup", L"first"},
        {L"General", L"\u00C0NIT", L"\u00B5s"},  // Latin-1 À against à
        {L"General", L"\u0160IGN", L"s caron"},  // Š against š
        {L"General", L"Tab", L"v"},              // a '[' line without ']' is no header
        {L"Broken", L"Tab", std::nullopt},
        {L"Padded", L"k", L"padded"},
        {L"General", L"Late", std::nullopt},  // only the first section counts
        {L"General", L"orphan", std::nullopt},
        {L"", L"orphan", std::nullopt},
        {L"\u00D7", L"sign", L"times"},
        {L"\u00F7", L"sign", std::nullopt},  // × and ÷ are no case pair
        {L"Missing", L"Name", std::nullopt},
        {L"General", L"Missing", std::nullopt},
        {L"General", L"", std::nullopt},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "[" << c.section << "] " << c.key);
        EXPECT_EQ(doc.Find(c.section, c.key), c.expected);
    }
    EXPECT_EQ(doc.ReadString(L"General", L"NoEquals", L"dflt"), L"dflt");
    EXPECT_EQ(doc.ReadString(L"General", L"Empty", L"dflt"), L"");
}

TEST(ProfileFind, EmptyDocumentHasNoKeys) {
    const ProfileDocument doc;
    EXPECT_FALSE(doc.exists());
    EXPECT_EQ(doc.ReadString(L"a", L"k", L"dflt"), L"dflt");
    EXPECT_EQ(doc.Serialize(), "");
}

// ---------------------------------------------------------------------------
// Writing

struct SetCase {
    const char* what;
    std::string before;
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
    std::string after;
};

TEST(ProfileSet, PlacesKeysLikeWindows) {
    const SetCase cases[] = {
        {"existing key in place, file's spelling, blanks dropped",
         "[a]\r\n  KeyName  =  old  \r\nnext=1\r\n", L"A", L"keyname", L"new",
         "[a]\r\nKeyName=new\r\nnext=1\r\n"},
        {"first of two equal keys", "[a]\nk=1\nK=2\n", L"a", L"k", L"3", "[a]\nk=3\nK=2\n"},
        {"first of two equal sections", "[a]\nx=1\n\n[b]\n[A]\nk=2\n", L"a", L"k", L"9",
         "[a]\nx=1\nk=9\n\n[b]\n[A]\nk=2\n"},
        {"end of section, before blank lines", "[a]\nx=1\n\n \t\n[b]\ny=2\n", L"a", L"k", L"v",
         "[a]\nx=1\nk=v\n\n \t\n[b]\ny=2\n"},
        {"after a trailing comment", "[a]\nx=1\n; note\n\n[b]\n", L"a", L"k", L"v",
         "[a]\nx=1\n; note\nk=v\n\n[b]\n"},
        {"section with only a header", "[a]\n\n[b]\n", L"a", L"k", L"v", "[a]\nk=v\n\n[b]\n"},
        {"new section at the end", "[a]\nx=1\n\n", L"b", L"k", L"v", "[a]\nx=1\n\n[b]\nk=v\n"},
        {"new section, names trimmed", "[a]\n", L" b\t", L" k ", L"v", "[a]\n[b]\nk=v\n"},
        {"no final line end, new section", "[a]\r\nx=1", L"b", L"k", L"v",
         "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
        {"no final line end, last section", "[a]\nx=1", L"a", L"k", L"v", "[a]\nx=1\nk=v\n"},
        {"no final line end, header only", "[a]", L"a", L"k", L"v", "[a]\r\nk=v\r\n"},
        {"no final line end, key replaced", "[a]\nk=1", L"a", L"k", L"2", "[a]\nk=2"},
        {"empty document", "", L"a", L"k", L"v", "[a]\r\nk=v\r\n"},
        {"key without '=' stays", "[a]\nk\n", L"a", L"k", L"v", "[a]\nk\nk=v\n"},
        {"comment that looks like the key stays", "[a]\n;k=old\n", L"a", L"k", L"v",
         "[a]\n;k=old\nk=v\n"},
        {"'[' without ']' is no header", "[a]\n[b\nx=1\n", L"b", L"k", L"v",
         "[a]\n[b\nx=1\n[b]\nk=v\n"},
        {"'[' without ']' does not end a section", "[a]\n[b\nx=1\n", L"a", L"x", L"2",
         "[a]\n[b\nx=2\n"},
        {"key before any section is not the key", "k=1\n[a]\n", L"a", L"k", L"2",
         "k=1\n[a]\nk=2\n"},
        {"any CRLF makes new lines CRLF", "[a]\nx=1\r\n", L"b", L"k", L"v",
         "[a]\nx=1\r\n[b]\r\nk=v\r\n"},
        {"LF file stays LF", "[a]\nx=1\n", L"a", L"y", L"2", "[a]\nx=1\ny=2\n"},
        {"replaced line keeps its own LF", "[a]\r\nx=1\ny=2\r\n", L"a", L"x", L"9",
         "[a]\r\nx=9\ny=2\r\n"},
        {"replaced line keeps its own CRLF", "[a]\nx=1\r\ny=2\n", L"a", L"x", L"9",
         "[a]\nx=9\r\ny=2\n"},
        {"value written verbatim", "[a]\n", L"a", L"k", L" \"q\" = ", "[a]\nk= \"q\" = \n"},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Hex(Edit(c.before, c.section, c.key, c.value)), Hex(c.after));
    }
}

TEST(ProfileSet, WrittenValueReadsBack) {
    // The bare "k" line comes first; the written key must still be found.
    ProfileDocument doc = ProfileDocument::Parse("[a]\nk\n[b]\n");
    ASSERT_TRUE(doc.Set(L"a", L"k", L"'quoted'"));
    ASSERT_TRUE(doc.Set(L"c", L"new", L"value"));
    const ProfileDocument again = ProfileDocument::Parse(doc.Serialize());
    EXPECT_EQ(again.Find(L"a", L"k"), L"quoted");
    EXPECT_EQ(again.Find(L"C", L"NEW"), L"value");
}

TEST(ProfileSet, RefusesTextThatWouldNotReadBack) {
    struct Refused {
        const char* what;
        const wchar_t* section;
        const wchar_t* key;
        std::wstring value;
    };
    const Refused cases[] = {
        {"empty key", L"a", L" ", L"v"},
        {"'=' in key", L"a", L"k=x", L"v"},
        {"key like a header", L"a", L"[b]", L"v"},
        {"key like a comment", L"a", L";k", L"v"},
        {"line feed in value", L"a", L"k", L"1\n[evil]\nx=2"},
        {"carriage return in value", L"a", L"k", L"1\r2"},
        {"line feed in section", L"a\nb", L"k", L"v"},
        {"line feed in key", L"a", L"k\nj", L"v"},
    };
    const std::string before = "[a]\r\nk=1\r\n";
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.what);
        ProfileDocument doc = ProfileDocument::Parse(before);
        EXPECT_FALSE(doc.Set(c.section, c.key, c.value));
        EXPECT_EQ(doc.Serialize(), before);
    }
}

// Lines that are no key of the edited section come out byte for byte.
TEST(ProfileSet, LeavesOtherLinesUntouched) {
    const std::string odd =
        "\x01\x02 ]][[ \t\r\n"
        "[a]\r\n"
        "  ;  comment = with \xB5 and \x80\r\n"
        "\0\0\0=nul key\r\n"s
        "k = old \r\n"
        "[a\r\n"
        "===\r\n"
        "junk ] [ \xFF\xFE\r\n"
        "\x1A\x0B\x0C\r\n"
        "   \r\n"
        "[b] ; trailing\r\n"
        "k = b's \r\n";
    const std::string expected =
        "\x01\x02 ]][[ \t\r\n"
        "[a]\r\n"
        "  ;  comment = with \xB5 and \x80\r\n"
        "\0\0\0=nul key\r\n"s
        "k=new\r\n"
        "[a\r\n"
        "===\r\n"
        "junk ] [ \xFF\xFE\r\n"
        "n=1\r\n"
        "\x1A\x0B\x0C\r\n"
        "   \r\n"
        "[b] ; trailing\r\n"
        "k = b's \r\n";
    ProfileDocument doc = ProfileDocument::Parse(odd);
    ASSERT_EQ(doc.encoding(), TextEncoding::Windows1252);
    EXPECT_EQ(doc.Find(L"a", std::wstring(3, L'\0')), L"nul key");
    ASSERT_TRUE(doc.Set(L"a", L"k", L"new"));
    ASSERT_TRUE(doc.Set(L"a", L"n", L"1"));
    EXPECT_EQ(Hex(doc.Serialize()), Hex(expected));
}

TEST(ProfileSet, HugeLinesAndGarbageStayIntact) {
    std::string line(100000, '=');
    for (std::size_t i = 0; i < line.size(); i += 7) line[i] = '\0';
    for (std::size_t i = 3; i < line.size(); i += 11) line[i] = '[';
    const std::string value(100000, 'v');
    const std::string before = "[a]\n" + line + "\nbig=" + value + "\n" + line;
    ProfileDocument doc = ProfileDocument::Parse(before);
    EXPECT_EQ(doc.Serialize(), before);
    EXPECT_EQ(doc.Find(L"a", L"big"), std::wstring(value.begin(), value.end()));
    ASSERT_TRUE(doc.Set(L"a", L"big", L"small"));
    ASSERT_TRUE(doc.Set(L"z", L"k", L"v"));
    EXPECT_EQ(doc.Serialize(), "[a]\n" + line + "\nbig=small\n" + line + "\n[z]\nk=v\n");
}

// ---------------------------------------------------------------------------
// Encodings

TEST(ProfileEncoding, Utf8WithMarkKeepsStrayBytes) {
    const std::string before = "\xEF\xBB\xBF[a]\nk=\xB5s\nm=\xC2\xB5\n\xB5nit=x\n";
    ProfileDocument doc = ProfileDocument::Parse(before);
    ASSERT_EQ(doc.encoding(), TextEncoding::Utf8Bom);
    EXPECT_EQ(doc.Serialize(), before);
    // A stray byte reads as its Windows-1252 character, as everywhere else.
    EXPECT_EQ(doc.Find(L"a", L"k"), L"\u00B5s");
    EXPECT_EQ(doc.Find(L"a", L"m"), L"\u00B5");
    EXPECT_EQ(doc.Find(L"a", L"\u00B5NIT"), L"x");
    ASSERT_TRUE(doc.Set(L"a", L"\u00B5nit", L"\u00B5"));
    ASSERT_TRUE(doc.Set(L"a", L"n", L"\u00B5"));
    EXPECT_EQ(Hex(doc.Serialize()),
              Hex("\xEF\xBB\xBF[a]\nk=\xB5s\nm=\xC2\xB5\n\xB5nit=\xC2\xB5\nn=\xC2\xB5\n"));
}

TEST(ProfileEncoding, Utf16KeepsOddByteAndLoneSurrogates) {
    const std::string before = Utf16(L"[a]\r\n;\xD800 lone\r\nk=1\r\n") + "\x7F";
    ProfileDocument doc = ProfileDocument::Parse(before);
    ASSERT_EQ(doc.encoding(), TextEncoding::Utf16LeBom);
    EXPECT_EQ(doc.Serialize(), before);
    ASSERT_TRUE(doc.Set(L"a", L"k", L"\U0001F600"));
    EXPECT_EQ(Hex(doc.Serialize()), Hex(Utf16(L"[a]\r\n;\xD800 lone\r\nk=") + "\x3D\xD8\x00\xDE"s +
                                        Utf16(L"\r\n").substr(2) + "\x7F"));
}

TEST(ProfileEncoding, NewTextInAWindows1252FileBecomesQuestionMarks) {
    ProfileDocument doc = ProfileDocument::Parse("[a]\r\nunit=\xB5s\r\n");
    ASSERT_EQ(doc.encoding(), TextEncoding::Windows1252);
    EXPECT_EQ(doc.Find(L"a", L"unit"), L"\u00B5s");
    ASSERT_TRUE(doc.Set(L"a", L"label", L"\u20AC \u4E2D"));
    EXPECT_EQ(Hex(doc.Serialize()), Hex("[a]\r\nunit=\xB5s\r\nlabel=\x80 ?\r\n"));
}

std::string RandomProfileBytes(std::mt19937& rng, std::size_t size) {
    // Mostly the characters that matter to the syntax, so that random input
    // makes headers, keys and odd lines, plus arbitrary bytes.
    static const char syntax[] = "[]=;\r\n \t\"'kK\x1A";
    std::uniform_int_distribution<int> pick(0, 2 * static_cast<int>(sizeof syntax));
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        const int p = pick(rng);
        out.push_back(p < static_cast<int>(sizeof syntax) - 1 ? syntax[p]
                                                              : static_cast<char>(byte(rng)));
    }
    return out;
}

// Whatever the bytes: parsing and serializing gives them back, and adding a
// section leaves every existing byte in place and reads back.
TEST(ProfileEncoding, RoundTripOfRandomFilesIsByteExact) {
    std::mt19937 rng(7031);
    for (int round = 0; round < 400; ++round) {
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 300)(rng);
        const std::string inputs[] = {
            RandomProfileBytes(rng, size),
            "\xEF\xBB\xBF" + RandomProfileBytes(rng, size),
            "\xFF\xFE" + RandomProfileBytes(rng, size),  // odd sizes included
            "\xFE\xFF" + RandomProfileBytes(rng, size),
        };
        for (const std::string& input : inputs) {
            ProfileDocument doc = ProfileDocument::Parse(input);
            ASSERT_EQ(doc.Serialize(), input) << Hex(input);

            ASSERT_TRUE(doc.Set(L"zz new section", L"key", L"value"));
            const std::string out = doc.Serialize();
            const bool oddTail = (input.starts_with("\xFF\xFE") || input.starts_with("\xFE\xFF")) &&
                                 input.size() % 2 == 1;
            const std::string kept = oddTail ? input.substr(0, input.size() - 1) : input;
            ASSERT_EQ(out.substr(0, kept.size()), kept) << Hex(input);
            if (oddTail) {
                ASSERT_EQ(out.back(), input.back()) << Hex(input);
            }
            const ProfileDocument again = ProfileDocument::Parse(out);
            ASSERT_EQ(again.encoding(), doc.encoding()) << Hex(input);
            ASSERT_EQ(again.Find(L"ZZ NEW SECTION", L"KEY"), L"value") << Hex(input);
        }
    }
}

// ---------------------------------------------------------------------------
// Files

class ProfileFileTest : public testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() /
               ("karvelo-profile-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
        ASSERT_TRUE(fs::create_directory(dir_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    static void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }
    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Names in the folder, so that a temporary file left behind shows.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        return st.st_mode & 07777;
    }
    static ino_t InodeOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        return st.st_ino;
    }

    fs::path dir_;
};

using Names = std::vector<std::string>;

TEST_F(ProfileFileTest, EachEncodingIsWrittenBackInItsOwn) {
    struct EncodingCase {
        const char* what;
        std::string before;
        TextEncoding encoding;
        std::string after;
    };
    const EncodingCase cases[] = {
        {"UTF-8", "[Unit]\r\nsymbol=\xC2\xB5s\r\n", TextEncoding::Utf8,
         "[Unit]\r\nsymbol=\xC2\xB5s\r\nlabel=\xC2\xB5\xE2\x82\xAC\r\n"},
        {"UTF-8 with mark", "\xEF\xBB\xBF[Unit]\nsymbol=\xC2\xB5s\n", TextEncoding::Utf8Bom,
         "\xEF\xBB\xBF[Unit]\nsymbol=\xC2\xB5s\nlabel=\xC2\xB5\xE2\x82\xAC\n"},
        {"Windows-1252", "[Unit]\r\nsymbol=\xB5s\r\n", TextEncoding::Windows1252,
         "[Unit]\r\nsymbol=\xB5s\r\nlabel=\xB5\x80\r\n"},
        {"UTF-16LE", Utf16(L"[Unit]\nsymbol=\u00B5s\n"), TextEncoding::Utf16LeBom,
         Utf16(L"[Unit]\nsymbol=\u00B5s\nlabel=\u00B5\u20AC\n")},
        {"UTF-16BE", Utf16Be(L"[Unit]\r\nsymbol=\u00B5s\r\n"), TextEncoding::Utf16BeBom,
         Utf16Be(L"[Unit]\r\nsymbol=\u00B5s\r\nlabel=\u00B5\u20AC\r\n")},
    };
    for (const EncodingCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = PathOf("enc.ini");
        WriteBytes(path, c.before);
        const ProfileDocument doc = ProfileDocument::Load(path);
        EXPECT_TRUE(doc.exists());
        EXPECT_EQ(doc.encoding(), c.encoding);
        EXPECT_EQ(ReadProfileString(L"unit", L"SYMBOL", L"", path), L"\u00B5s");
        ASSERT_TRUE(WriteProfileString(L"Unit", L"label", L"\u00B5\u20AC", path));
        EXPECT_EQ(Hex(ReadBytes(path)), Hex(c.after));
        EXPECT_EQ(ReadProfileString(L"Unit", L"label", L"", path), L"\u00B5\u20AC");
    }
}

TEST_F(ProfileFileTest, NewFileIsUtf8WithCrlf) {
    const mode_t mask = ::umask(022);
    const std::string path = PathOf("new.ini");
    EXPECT_FALSE(ProfileDocument::Load(path).exists());
    ASSERT_TRUE(WriteProfileString(L"Main", L"cfg", L"\u00B5", path));
    ::umask(mask);
    EXPECT_EQ(Hex(ReadBytes(path)), Hex("[Main]\r\ncfg=\xC2\xB5\r\n"));
    EXPECT_EQ(ModeOf(path), 0644u);
    EXPECT_EQ(Entries(), Names{"new.ini"});
}

TEST_F(ProfileFileTest, ReplacesAtomicallyKeepingPermissions) {
    const std::string path = PathOf("main.ini");
    WriteBytes(path, "[a]\nk=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const ino_t before = InodeOf(path);
    ASSERT_TRUE(WriteProfileString(L"a", L"k", L"2", path));
    EXPECT_EQ(ReadBytes(path), "[a]\nk=2\n");
    EXPECT_EQ(ModeOf(path), 0640u);
    // A new inode: the file was renamed into place, not rewritten where it was.
    EXPECT_NE(InodeOf(path), before);
    EXPECT_EQ(Entries(), Names{"main.ini"});
}

TEST_F(ProfileFileTest, ReadOnlyFileIsLeftAlone) {
    const std::string path = PathOf("ro.ini");
    WriteBytes(path, "[a]\nk=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(WriteProfileString(L"a", L"k", L"2", path));
    EXPECT_EQ(ReadBytes(path), "[a]\nk=1\n");
    EXPECT_EQ(ModeOf(path), 0444u);
    EXPECT_EQ(Entries(), Names{"ro.ini"});
    EXPECT_EQ(ReadProfileString(L"a", L"k", L"", path), L"1");
}

TEST_F(ProfileFileTest, DirectoryGivesDefaultsAndIsNotWritten) {
    const std::string path = PathOf("folder.ini");
    ASSERT_TRUE(fs::create_directory(path));
    EXPECT_FALSE(ProfileDocument::Load(path).exists());
    EXPECT_EQ(ReadProfileString(L"a", L"k", L"dflt", path), L"dflt");
    EXPECT_FALSE(WriteProfileString(L"a", L"k", L"v", path));
    EXPECT_FALSE(ProfileDocument::Parse("[a]\n").Save(path));
    EXPECT_TRUE(fs::is_empty(path));
    EXPECT_EQ(Entries(), Names{"folder.ini"});
}

TEST_F(ProfileFileTest, MissingFolderIsNotCreated) {
    const std::string path = PathOf("missing/x.ini");
    EXPECT_EQ(ReadProfileString(L"a", L"k", L"dflt", path), L"dflt");
    EXPECT_FALSE(WriteProfileString(L"a", L"k", L"v", path));
    EXPECT_TRUE(Entries().empty());
}

TEST_F(ProfileFileTest, FifoIsNeitherWaitedForNorWritten) {
    const std::string path = PathOf("pipe.ini");
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    EXPECT_FALSE(ProfileDocument::Load(path).exists());
    EXPECT_FALSE(WriteProfileString(L"a", L"k", L"v", path));
    EXPECT_TRUE(fs::is_fifo(path));
}

TEST_F(ProfileFileTest, WritesThroughSymbolicLinks) {
    const std::string target = PathOf("real.ini");
    WriteBytes(target, "[a]\nk=1\n");
    const std::string link = PathOf("link.ini");
    fs::create_symlink("real.ini", link);
    ASSERT_TRUE(WriteProfileString(L"a", L"k", L"2", link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(target), "[a]\nk=2\n");

    const std::string dangling = PathOf("dangling.ini");
    fs::create_symlink("later.ini", dangling);
    ASSERT_TRUE(WriteProfileString(L"a", L"k", L"3", dangling));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(ReadBytes(PathOf("later.ini")), "[a]\r\nk=3\r\n");
    EXPECT_EQ(Entries(), (Names{"dangling.ini", "later.ini", "link.ini", "real.ini"}));
}

TEST_F(ProfileFileTest, FailedWriteLeavesOldFileAndNoTemporary) {
    const std::string path = PathOf("full.ini");
    WriteBytes(path, "[a]\nk=1\n");
    ProfileDocument doc = ProfileDocument::Load(path);
    ASSERT_TRUE(doc.Set(L"a", L"k", std::wstring(200000, L'x')));

    // A file size limit makes the write fail part way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved_ok = doc.Save(path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(ReadBytes(path), "[a]\nk=1\n");
    EXPECT_EQ(Entries(), Names{"full.ini"});
}

TEST_F(ProfileFileTest, DocumentWithoutFileDoesNotReplaceOne) {
    const std::string path = PathOf("late.ini");
    ProfileDocument doc = ProfileDocument::Load(path);  // missing: stands for unreadable too
    ASSERT_FALSE(doc.exists());
    ASSERT_TRUE(doc.Set(L"a", L"k", L"mine"));
    WriteBytes(path, "[a]\nk=theirs\nother=1\n");
    EXPECT_FALSE(doc.Save(path));
    EXPECT_EQ(ReadBytes(path), "[a]\nk=theirs\nother=1\n");

    // Once written, the document stands for its file and may be saved again.
    const std::string fresh = PathOf("fresh.ini");
    ASSERT_TRUE(doc.Save(fresh));
    EXPECT_TRUE(doc.exists());
    ASSERT_TRUE(doc.Set(L"a", L"k", L"again"));
    ASSERT_TRUE(doc.Save(fresh));
    EXPECT_EQ(ReadBytes(fresh), "[a]\r\nk=again\r\n");
}

// Files that are there but cannot be read as text: nothing is read from them,
// the document says why, and no write touches them.
TEST_F(ProfileFileTest, FileThatCannotBeReadAsTextIsReportedAndLeftAlone) {
    struct Case {
        const char* what;
        void (*make)(const std::string& path);
        ProfileSource source;
        const wchar_t* problem;  // part of Problem()
    };
    static const auto write = [](const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    };
    const Case cases[] = {
        {"folder", [](const std::string& p) { fs::create_directory(p); }, ProfileSource::NotAFile,
         L"folder"},
        {"named pipe", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); },
         ProfileSource::NotAFile, L"named pipe"},
        {"loop of links", [](const std::string& p) { fs::create_symlink(p, p); },
         ProfileSource::Unreadable, L"symbolic links"},
        {"binary junk",
         [](const std::string& p) {
             std::mt19937 rng(11);
             std::string junk;
             for (int i = 0; i < 512; ++i) junk.push_back(static_cast<char>(rng()));
             write(p, "[WINDOW]\r\nmaxno=3\r\n" + junk);
         },
         ProfileSource::NotText, L"not a text file"},
        {"UTF-16LE without mark",
         [](const std::string& p) { write(p, Utf16(L"[WINDOW]\r\nmaxno=3\r\n").substr(2)); },
         ProfileSource::NotText, L"not a text file"},
        {"UTF-32LE with mark",
         [](const std::string& p) { write(p, "\xFF\xFE\0\0[\0\0\0a\0\0\0]\0\0\0"s); },
         ProfileSource::NotText, L"not a text file"},
        {"larger than any configuration",
         [](const std::string& p) {
             write(p, "[WINDOW]\r\nmaxno=3\r\n");
             fs::resize_file(p, kMaxProfileBytes + 1);  // sparse: costs no disk
         },
         ProfileSource::TooLarge, L"larger than 16 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = PathOf("bad.ini");
        c.make(path);
        std::error_code ec;
        const bool regular = fs::is_regular_file(path, ec);
        const std::string before = regular ? ReadBytes(path) : std::string();

        const ProfileDocument doc = ProfileDocument::Load(path);
        EXPECT_EQ(doc.source(), c.source);
        EXPECT_FALSE(doc.exists());
        EXPECT_NE(doc.Problem().find(c.problem), std::wstring::npos)
            << std::string(doc.Problem().begin(), doc.Problem().end());
        EXPECT_EQ(doc.ReadString(L"WINDOW", L"maxno", L"dflt"), L"dflt");

        EXPECT_FALSE(WriteProfileString(L"WINDOW", L"maxno", L"4", path));
        ProfileDocument edited = doc;
        ASSERT_TRUE(edited.Set(L"WINDOW", L"maxno", L"4"));
        EXPECT_FALSE(edited.Save(path));
        if (regular) {
            EXPECT_EQ(ReadBytes(path), before);
        }
        EXPECT_EQ(Entries(), Names{"bad.ini"}) << "no temporary file left";

        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
}

TEST_F(ProfileFileTest, UnreadableFileSaysWhy) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    const std::string path = PathOf("secret.ini");
    WriteBytes(path, "[a]\nk=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const ProfileDocument doc = ProfileDocument::Load(path);
    EXPECT_EQ(doc.source(), ProfileSource::Unreadable);
    EXPECT_EQ(doc.Problem(), L"Permission denied");
    EXPECT_FALSE(WriteProfileString(L"a", L"k", L"2", path));
}

TEST_F(ProfileFileTest, ReadableFilesHaveNoProblem) {
    const std::string missing = PathOf("missing.ini");
    EXPECT_EQ(ProfileDocument::Load(missing).source(), ProfileSource::Missing);
    EXPECT_EQ(ProfileDocument::Load(missing).Problem(), L"");
    // Blanks and line ends that editors leave are text, also the DOS end-of-file mark.
    const std::string path = PathOf("ok.ini");
    WriteBytes(path, "[a]\r\n\tk = 1\v\f\r\n\x1A");
    const ProfileDocument doc = ProfileDocument::Load(path);
    EXPECT_EQ(doc.source(), ProfileSource::Read);
    EXPECT_EQ(doc.Problem(), L"");
    EXPECT_EQ(doc.Find(L"a", L"k"), L"1");
}

// What a write killed half way leaves behind is removed; the file of a write
// still running (locked by its process) and everything else stays.
TEST_F(ProfileFileTest, StaleTemporaryFilesAreRemoved) {
    const std::string path = PathOf("karvelo.cfg");
    WriteBytes(path, "[a]\nk=1\n");
    const std::vector<std::string> stale = {".karvelo.cfg.Ab12Cd", ".karvelo.cfg.zzzzzz"};
    const std::vector<std::string> kept = {
        ".karvelo.cfg.Ab12C",                                                 // not six characters
        ".karvelo.cfg.Ab12Cd7", ".karvelo.cfg.Ab-2Cd", "karvelo.cfg.Ab12Cd",  // not hidden
        ".karvelo1.cfg.Ab12Cd",                                               // another file's
        ".karvelo.cfg.live01",                                                // being written
    };
    for (const std::string& name : stale) WriteBytes(PathOf(name), "[a]\nk=half");
    for (const std::string& name : kept) WriteBytes(PathOf(name), "x");
    fs::create_directory(PathOf(".karvelo.cfg.dir123"));
    fs::create_symlink("karvelo.cfg", PathOf(".karvelo.cfg.link12"));

    const int live = ::open(PathOf(".karvelo.cfg.live01").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(live, 0);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    EXPECT_EQ(RemoveStaleTemporaryFiles(path), 2);
    ::close(live);

    Names expected(kept.begin(), kept.end());
    expected.insert(expected.end(), {".karvelo.cfg.dir123", ".karvelo.cfg.link12", "karvelo.cfg"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(ReadBytes(path), "[a]\nk=1\n");

    // Through a link, the leftovers are beside the file the link leads to.
    const fs::path other = fs::path(PathOf("elsewhere"));
    fs::create_directory(other);
    WriteBytes((other / "real.cfg").string(), "[a]\n");
    WriteBytes((other / ".real.cfg.Qw3rty").string(), "half");
    fs::create_symlink(other / "real.cfg", PathOf("linked.cfg"));
    EXPECT_EQ(RemoveStaleTemporaryFiles(PathOf("linked.cfg")), 1);
    EXPECT_FALSE(fs::exists(other / ".real.cfg.Qw3rty"));
}

// A write holds its temporary file locked until it is renamed into place, so
// that a cleanup running meanwhile in another station leaves it alone.
TEST_F(ProfileFileTest, WriteIsNotDisturbedByACleanup) {
    const std::string path = PathOf("karvelo.cfg");
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(WriteProfileString(L"a", L"k", std::to_wstring(i), path));
        EXPECT_EQ(RemoveStaleTemporaryFiles(path), 0);
    }
    EXPECT_EQ(ReadProfileString(L"a", L"k", L"", path), L"49");
    EXPECT_EQ(Entries(), Names{"karvelo.cfg"});
}

}  // namespace
}  // namespace karvelo::platform
