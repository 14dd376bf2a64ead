// Message texts by number: catalogs through NLSPATH, the compiled-in defaults, code sets.
#include <locale.h>

#include <cstring>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "ovmsg/msg.h"
#include "svc_test_util.h"

namespace {

[[maybe_unused]] auto* const kEnv =
    ::testing::AddGlobalTestEnvironment(new svc_test::QuietEnvironment);

// The conversions of a text, in order, as a format string: "%s%d".
std::string conversionsOf(const std::string& text) {
    std::string out;
    static const std::regex conv("%([0-9]+\\$)?[-+ #0]*[0-9]*(\\.[0-9]+)?(l?)([sdiuxXc%])");
    std::string positional[16];
    bool any_positional = false;
    for (std::sregex_iterator it(text.begin(), text.end(), conv), end; it != end; ++it) {
        const std::smatch& m = *it;
        if (m[4] == "%") continue;
        std::string c = "%" + m[3].str() + m[4].str();
        if (m[1].matched) {
            any_positional = true;
            positional[std::stoi(m[1].str())] = c;
        } else {
            out += c;
        }
    }
    if (any_positional)
        for (const auto& p : positional) out += p;
    return out;
}

// Every number the library and its platform components log, with the inserts they pass.
struct Logged {
    unsigned number;
    const char* format;
};
const Logged kLogged[] = {
    {0x10652065, ""},     {0x1065206E, ""},         {0x1065206F, ""},   {0x10652070, ""},
    {0x1354A09A, "%s%d"}, {0x1354A0C3, "%s"},       {0x1354A0C7, "%s"}, {0x1354A0C8, ""},
    {0x1354A0CA, ""},     {0x1354A1C6, "%d"},       {0x1354A1C7, "%d"}, {0x1354A1C8, "%d"},
    {0x1354A1C9, "%d"},   {0x1354A1CA, "%d"},       {0x1354A1CB, "%d"}, {0x1354A1CC, "%d"},
    {0x1354A1CD, "%d"},   {0x1354A1CE, "%d"},       {0x1354A1CF, "%d"}, {0x15E3A003, "%s"},
    {0x15E3A0A3, ""},     {0x35E51001, "%s%s%d%d"},
};

// The format of each exception kind, as the message service passes its inserts.
const char* kindFormat(unsigned kind) {
    switch (kind) {
        case 1:
        case 11:
        case 14:
        case 19:
        case 22:
        case 31:
        case 45:
        case 46:
        case 48:
            return "";
        case 32:
        case 42:
        case 49:
        case 50:
        case 53:
        case 54:
            return "%s";
        case 12:
        case 13:
        case 47:
            return "%s%s";
        case 37:
        case 38:
            return "%d%s";
        case 2:
        case 43:
            return "%s%s%d";
        case 44:
        case 51:
            return "%s%d%s";
        case 28:
            return "%s%s%s";
        case 39:
        case 40:
        case 41:
            return "%s%s%s%s";
        case 52:
            return "%s%s%d%s";
        default:
            return "%d";
    }
}

std::vector<Logged> allLogged() {
    std::vector<Logged> all(std::begin(kLogged), std::end(kLogged));
    for (unsigned k = 1; k <= 54; ++k) {
        if (k == 23) continue;
        all.push_back({k <= 22 ? 0x35E51001 + k : 0x35E51018 + (k - 24), kindFormat(k)});
    }
    return all;
}

TEST(MessageTexts, EveryLoggedNumberHasTextsWhoseConversionsMatchItsInserts) {
    for (const Logged& l : allLogged()) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", l.number);
        SCOPED_TRACE(hex);
        unsigned status = 1;
        const char* def = ov_msg_get_default_msg(l.number, &status);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(status, OV_MSG_S_OK);
        EXPECT_EQ(conversionsOf(def), l.format) << def;
        status = 1;
        const char* cat = ov_msg_get_msg_utf8(l.number, &status);
        ASSERT_NE(cat, nullptr);
        EXPECT_EQ(status, OV_MSG_S_OK) << "not found in the built catalogs";
        EXPECT_STREQ(cat, def);
    }
}

TEST(MessageTexts, CatalogNamesFollowTheHigh20Bits) {
    const struct {
        unsigned number;
        const char* name;
    } cases[] = {
        {0x10652065, "ovbas"}, {0x1354A1C6, "ovwvcore"}, {0x15E3A0A3, "ovc"},
        {0x35E51036, "ovz"},   {0x7E57A001, "ov7e57a"},  {0x00000001, "ov00000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char name[32];
        EXPECT_EQ(ov_msg_catalog_name(c.number, name, sizeof name), std::strlen(c.name));
        EXPECT_STREQ(name, c.name);
    }
    char tiny[4];
    EXPECT_EQ(ov_msg_catalog_name(0x1354A1C6, tiny, sizeof tiny), 8u);
    EXPECT_STREQ(tiny, "ovw");
}

TEST(MessageTexts, CatalogOnlyNumberComesFromTheCatalogAndHasNoDefault) {
    unsigned status = 1;
    const char* text = ov_msg_get_msg_utf8(0x7E57A002, &status);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Two inserts: %s and %d.");
    EXPECT_EQ(status, OV_MSG_S_OK);
    EXPECT_EQ(ov_msg_get_default_msg(0x7E57A002, &status), nullptr);
    EXPECT_EQ(status, OV_MSG_S_NOT_FOUND);
}

TEST(MessageTexts, UnknownNumbersGiveNullAndNotFound) {
    // Known catalog without that message, a catalog that does not exist, number 0.
    for (unsigned number : {0x1354A0FFu, 0x12345678u, 0u}) {
        SCOPED_TRACE(number);
        unsigned status = 0;
        EXPECT_EQ(ov_msg_get_msg(number, &status), nullptr);
        EXPECT_EQ(status, OV_MSG_S_NOT_FOUND);
        status = 0;
        EXPECT_EQ(ov_msg_get_msg_utf8(number, &status), nullptr);
        EXPECT_EQ(status, OV_MSG_S_NOT_FOUND);
        status = 0;
        EXPECT_EQ(ov_msg_get_default_msg(number, &status), nullptr);
        EXPECT_EQ(status, OV_MSG_S_NOT_FOUND);
    }
    EXPECT_EQ(ov_msg_get_msg(0x12345678u, nullptr), nullptr);  // status is optional
}

TEST(MessageTexts, TextsAreKeptAndLocalAndUtf8PointersDiffer) {
    const char* utf8 = ov_msg_get_msg_utf8(0x1354A0C3, nullptr);
    const char* local = ov_msg_get_msg(0x1354A0C3, nullptr);
    ASSERT_NE(utf8, nullptr);
    ASSERT_NE(local, nullptr);
    EXPECT_NE(utf8, local);
    EXPECT_STREQ(utf8, local);  // ASCII text: the same in any code set
    EXPECT_EQ(ov_msg_get_msg_utf8(0x1354A0C3, nullptr), utf8);
    EXPECT_EQ(ov_msg_get_msg(0x1354A0C3, nullptr), local);
    // Default texts are static and distinct from both.
    const char* def = ov_msg_get_default_msg(0x1354A0C3, nullptr);
    EXPECT_NE(def, utf8);
    EXPECT_NE(def, local);
}

TEST(MessageTexts, LocalTextIsConvertedToTheLocaleCodeSet) {
    // The test process runs in the C locale (ASCII): the non-ASCII letter cannot stay.
    ASSERT_STREQ(setlocale(LC_CTYPE, nullptr), "C");
    const char* utf8 = ov_msg_get_msg_utf8(0x7E57A007, nullptr);
    ASSERT_NE(utf8, nullptr);
    EXPECT_STREQ(utf8, "Caf\xC3\xA9 au lait, %s.");
    unsigned status = 1;
    const char* local = ov_msg_get_msg(0x7E57A007, &status);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(status, OV_MSG_S_OK);
    std::string text = local;
    for (unsigned char c : text) EXPECT_LT(c, 0x80) << text;
    EXPECT_TRUE(text == "Cafe au lait, %s." || text == "Caf? au lait, %s.") << text;

    // In a UTF-8 locale the local text is the UTF-8 text, under its own key.
    ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
    const char* local_utf8 = ov_msg_get_msg(0x7E57A007, &status);
    setlocale(LC_ALL, "C");
    ASSERT_NE(local_utf8, nullptr);
    EXPECT_STREQ(local_utf8, utf8);
    EXPECT_NE(local_utf8, local);
    EXPECT_EQ(ov_msg_get_msg(0x7E57A007, nullptr), local);  // the C-locale text is still kept
}

TEST(MessageTexts, WithoutCatalogsTheDefaultTextComesWithItsStatus) {
    // Catalogs stay open once found, so this needs a process that has not looked yet.
    int rc = svc_test::RunInFreshProcess([] {
        setenv("NLSPATH", "/nonexistent/%L/%N.cat", 1);
        unsigned status = 0;
        const char* text = ov_msg_get_msg(0x10652065, &status);
        if (!text || status != OV_MSG_S_DEFAULT) return 1;
        if (std::strcmp(text, ov_msg_get_default_msg(0x10652065, nullptr)) != 0) return 2;
        // Only in the catalog: nothing.
        if (ov_msg_get_msg_utf8(0x7E57A001, &status) || status != OV_MSG_S_NOT_FOUND) return 3;
        // A failed open is tried again once NLSPATH names the catalogs.
        setenv("NLSPATH", svc_test::TestNlspath().c_str(), 1);
        if (!ov_msg_get_msg(0x10652065, &status) || status != OV_MSG_S_OK) return 4;
        if (!ov_msg_get_msg_utf8(0x7E57A001, &status) || status != OV_MSG_S_OK) return 5;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST(MessageTexts, LangUnsetFindsTheCCatalogs) {
    int rc = svc_test::RunInFreshProcess([] {
        unsetenv("LANG");
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("NLSPATH", (std::string(OV_NLS_MSG_DIR) + "/%L/%N.cat").c_str(), 1);
        if (!setlocale(LC_ALL, "")) return 1;
        unsigned status = 1;
        return ov_msg_get_msg(0x15E3A0A3, &status) && status == OV_MSG_S_OK ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
}

TEST(MessageTexts, DefaultTableIsOrderedAndReady) {
    size_t count = 0;
    const ov_msg_entry_t* table = ov_msg_default_table(&count);
    ASSERT_GT(count, 0u);
    for (size_t i = 1; i < count; ++i) EXPECT_LT(table[i - 1].number, table[i].number);
    unsigned status = 1;
    ov_msg_load_defaults(&status);
    EXPECT_EQ(status, OV_MSG_S_OK);
}

TEST(NationalLanguageDirectories, ReportTheEnvironment) {
    setenv("UCXDIR", "/opt/x/nls/UCX", 1);
    ASSERT_NE(ucx_get_dir(), nullptr);
    EXPECT_STREQ(ucx_get_dir(), "/opt/x/nls/UCX");
    unsetenv("UCXDIR");
    EXPECT_EQ(ucx_get_dir(), nullptr);
    ASSERT_NE(ucx_get_nlspath(), nullptr);
    EXPECT_EQ(std::string(ucx_get_nlspath()), svc_test::TestNlspath());
    unsetenv("NLSPATH");
    EXPECT_EQ(ucx_get_nlspath(), nullptr);
    setenv("NLSPATH", svc_test::TestNlspath().c_str(), 1);
}

}  // namespace
