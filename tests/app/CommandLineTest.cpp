#include "app/CommandLine.h"

#include "catalogue/UpdateInfoMgr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kGood[] = "<PARAM><MODE>zeltosetup</MODE><SOURCE>http://down.zelto.com/</SOURCE></PARAM>";
const char kRejected[] = "<PARAM><MODE></MODE></PARAM>";

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { CUpdateInfoMgr::DeleteInstance(); }
    void TearDown() override { CUpdateInfoMgr::DeleteInstance(); }

    BOOL Parse(std::vector<std::string> args)
    {
        args.insert(args.begin(), "ZeltoSetup.exe");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        m_switches = RunSwitches();
        return ParseCommandLine(static_cast<int>(args.size()), argv.data(), m_switches);
    }
    CUpdateInfoMgr* Manager() { return CUpdateInfoMgr::GetInstance(); }

    RunSwitches m_switches;
};

TEST_F(CommandLineTest, NoArgumentIsInvalid)
{
    EXPECT_FALSE(Parse({}));
}

TEST_F(CommandLineTest, WholeSwitchesOnly)
{
    EXPECT_TRUE(Parse({"-U"}));
    EXPECT_EQ(1, m_switches.uninstallMode) << "either case";

    // A switch of another length, an unknown letter or a stray word is
    // refused, whatever else the line holds: "-update" never uninstalls.
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"-update"}, {"-x", kGood, "-unknown"}, {"-Xml", kGood}, {"-a"}, {"-"}, {"hello"},
             {"-x", kGood, "/u"}, {"-q", "-uu"}}) {
        EXPECT_FALSE(Parse(args)) << args.back();
        EXPECT_EQ(0, m_switches.uninstallMode) << args.back();
        std::vector<char*> argv = {const_cast<char*>("ZeltoSetup.exe")};
        for (auto& a : args) argv.push_back(a.data());
        EXPECT_EQ(0, ReadSwitches(static_cast<int>(argv.size()), argv.data()).uninstallMode) << args.back();
    }
    EXPECT_TRUE(Parse({"-w", "-u", "-x", kGood})) << "a switch's value is no switch";
    EXPECT_EQ(0, m_switches.uninstallMode);
}

TEST_F(CommandLineTest, AdministratorsSwitches)
{
    std::vector<std::string> args = {"-Q", "-x", kGood, "-l", "C:\\logs\\-u run.log", "-v"};
    EXPECT_TRUE(Parse(args));
    EXPECT_TRUE(m_switches.quiet);
    EXPECT_TRUE(m_switches.verify);
    EXPECT_EQ(0, m_switches.uninstallMode) << "the log path is no switch";
    EXPECT_EQ("C:\\logs\\-u run.log", m_switches.logPath);
    std::vector<char*> argv = {const_cast<char*>("ZeltoSetup.exe")};
    for (auto& a : args) argv.push_back(a.data());
    const RunSwitches early = ReadSwitches(static_cast<int>(argv.size()), argv.data());
    EXPECT_TRUE(early.quiet && early.verify && early.uninstallMode == 0);
    EXPECT_EQ("C:\\logs\\-u run.log", early.logPath);

    EXPECT_FALSE(Parse({"-q", "-u", "-l"})) << "a log switch without its file";
    EXPECT_FALSE(Parse({"-q", "-u", "-l", ""}));
    EXPECT_TRUE(Parse({"-q", "-u"}));
    EXPECT_TRUE(m_switches.quiet && m_switches.uninstallMode == 1 && !m_switches.verify);
}

TEST_F(CommandLineTest, TheLastDocumentDecides)
{
    EXPECT_FALSE(Parse({"-x", kGood, "-x", kRejected}));
    EXPECT_TRUE(Parse({"-x", kRejected, "-x", kGood}));
    EXPECT_TRUE(Parse({"-x", kGood, "-x"})) << "a trailing -x without document stops the walk";
}

TEST_F(CommandLineTest, NotifyWindowNumber)
{
    EXPECT_TRUE(Parse({"-w", "12345", "-x"}));
    EXPECT_EQ(reinterpret_cast<HWND>(12345), Manager()->GetNotifyWindow());
    EXPECT_EQ("", Manager()->GetMode()) << "install mode with default parameters";

    EXPECT_TRUE(Parse({"-w", "window"}));
    EXPECT_EQ(nullptr, Manager()->GetNotifyWindow()) << "no digits: no window";

    EXPECT_TRUE(Parse({"-w", "  77abc"}));
    EXPECT_EQ(reinterpret_cast<HWND>(77), Manager()->GetNotifyWindow());

    EXPECT_TRUE(Parse({"-w"}));
}

TEST_F(CommandLineTest, OverlongDocumentIsRejectedNotCut)
{
    std::string prefix = "<PARAM><MODE>zeltosetup</MODE><SOURCE>http://down.zelto.com/</SOURCE></PARAM><!--";
    std::string suffix = "-->";
    std::string fits = prefix + std::string(MAX_PARAM_DOCUMENT - prefix.size() - suffix.size(), 'p') + suffix;
    ASSERT_EQ(MAX_PARAM_DOCUMENT, fits.size());
    EXPECT_TRUE(Parse({"-x", fits}));

    std::string tooLong = prefix + std::string(MAX_PARAM_DOCUMENT - prefix.size() - suffix.size() + 1, 'p') + suffix;
    CUpdateInfoMgr::DeleteInstance();
    EXPECT_FALSE(Parse({"-x", tooLong}));
    EXPECT_EQ("", Manager()->GetMode()) << "the document was not read at all";
}

}  // namespace
