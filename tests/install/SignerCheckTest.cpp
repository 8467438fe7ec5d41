#include "install/SignerCheck.h"

#include "base/LastError.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

CSignerPin Pin(const char* name)
{
    CSignerPin pin;
    pin.spkiSha256 = testutil::ReadWholeFile(testutil::Component(std::string("signers\\") + name + ".spki")).substr(0, 64);
    return pin;
}

std::string Signed(const char* variant, const char* file = "ZeltoTestCtl.dll")
{
    return testutil::Component(std::string("signers\\") + variant + "\\" + file);
}

}  // namespace

// The program's own pins and the item's must both hold: a catalogue cannot
// loosen what the build pins, and the build's pin does not stand in for the
// item's.
TEST(SignerCheck, TheBuiltInPinsAndTheItemsPinsMustBothHold)
{
    const SignerPins a{Pin("authority-a")}, b{Pin("authority-b")}, none;
    const std::string good = Signed("good");
    EXPECT_TRUE(CheckSigner(good.c_str(), a, none));
    EXPECT_TRUE(CheckSigner(good.c_str(), none, a));
    EXPECT_TRUE(CheckSigner(good.c_str(), a, a));
    RecordLastError(0, 0);
    EXPECT_FALSE(CheckSigner(good.c_str(), b, a)) << "the item's pin";
    EXPECT_EQ(static_cast<DWORD>(ERR_SIGNER_NOT_PINNED), LastError.dwAppError);
    EXPECT_FALSE(CheckSigner(good.c_str(), a, b)) << "the program's pin";
    // No pin at all: nothing is checked, not even whether the file exists.
    EXPECT_TRUE(CheckSigner("C:\\no such folder\\unsigned.dll", none, none));
}

TEST(SignerCheck, EachRefusalHasItsOwnCode)
{
    const SignerPins a{Pin("authority-a")}, none;
    const struct { const char* variant; DWORD code; } cases[] = {
        {"unsigned", ERR_SIGNER_UNSIGNED}, {"tampered", ERR_SIGNER_TAMPERED}, {"other", ERR_SIGNER_NOT_PINNED},
        {"forged", ERR_SIGNER_NOT_PINNED}, {"expired", ERR_SIGNER_NOT_VALID}};
    for (const auto& c : cases) {
        RecordLastError(0, 0);
        EXPECT_FALSE(CheckSigner(Signed(c.variant).c_str(), a, none)) << c.variant;
        EXPECT_EQ(c.code, LastError.dwAppError) << c.variant;
        EXPECT_NE(0u, LastError.dwSysError) << c.variant;
    }
    EXPECT_TRUE(CheckSigner(Signed("stamped").c_str(), a, none)) << "a timestamp outlives the certificate";
    // A pin that is no SHA-256 (a catalogue's mistake) matches nothing.
    CSignerPin broken;
    broken.spkiSha256 = "not a hash";
    EXPECT_FALSE(CheckSigner(Signed("good").c_str(), {broken}, none));
}

TEST(SignerCheck, ExecutableNames)
{
    for (const char* name : {"a.dll", "A.OCX", "setup.exe", "x.Sys", "c.cpl", "f.ax"})
        EXPECT_TRUE(IsExecutableName(name)) << name;
    for (const char* name : {"readme.txt", "dll", "a.dll.txt", "a.inf", "folder.dll\\x", ""})
        EXPECT_FALSE(IsExecutableName(name)) << name;
}

// What the item's check looks at: its executable files by name, and any
// file whose bytes are a PE image whatever its name; other files pass.
TEST(SignerCheck, AnItemsExecutablesAreKnownByNameAndByBytes)
{
    CUtil::InitSystemFolders();
    ASSERT_TRUE(CUtil::PrepareStagingFolder());
    const std::string staging = CUtil::GetStagingFolder();
    auto stage = [&](CUpdateSet& item, const std::string& from, const char* name) {
        ::CopyFileA(from.c_str(), (staging + "\\" + name).c_str(), FALSE);
        item.m_arrUpdateFile.push_back(std::make_unique<CUpdateInfo>());
        item.m_arrUpdateFile.back()->m_szName = name;
        item.m_arrUpdateFile.back()->m_arrSignerPin = item.m_arrSignerPin;
    };
    CUpdateSet renamed;
    renamed.m_arrSignerPin = {Pin("authority-a")};
    stage(renamed, Signed("good"), "ZeltoTestCtl.dll");
    stage(renamed, Signed("unsigned"), "plugin.bin");   // a library under another name
    RecordLastError(0, 0);
    EXPECT_FALSE(CheckItemSigners(renamed));
    EXPECT_EQ(static_cast<DWORD>(ERR_SIGNER_UNSIGNED), LastError.dwAppError);

    CUpdateSet plain;
    plain.m_arrSignerPin = {Pin("authority-a")};
    stage(plain, Signed("good"), "ZeltoTestCtl.dll");
    stage(plain, testutil::Component("signers\\authority-a.spki"), "notes.txt");
    EXPECT_TRUE(CheckItemSigners(plain));
    for (const char* name : {"ZeltoTestCtl.dll", "plugin.bin", "notes.txt"}) ::DeleteFileA((staging + "\\" + name).c_str());
}
