#include "persist/IniFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/TrelvoHome.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::persist {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

class IniFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& text) {
        test::writeFile(path, text);
        return path;
    }
    std::string contents() const { return test::readFile(path); }

    test::LogCapture log;
    test::TempFolder folder;
    std::string path = folder.file("Trelvo.ini");
    IniHandle ini;
};

TEST_F(IniFileTest, ReadingAMissingSectionGivesDefaultsAndTouchesNothing) {
    EXPECT_FALSE(OpenIni(ini, path, "Layout", kIniRead));
    EXPECT_EQ(IniStr(ini, "MainWindowX", "10"), "10");
    EXPECT_EQ(IniInt(ini, "MainWindowW", 800), 800);
    EXPECT_TRUE(CloseIni(ini));
    EXPECT_FALSE(test::fileExists(path));

    write("[Other]\r\nA=1\r\n");
    OpenIni(ini, path, "Layout", kIniWrite);
    IniStr(ini, "Gone", ""); // an empty value never creates a key
    CloseIni(ini);
    EXPECT_EQ(contents(), "[Other]\r\nA=1\r\n");
}

TEST_F(IniFileTest, NamesMatchInAnyAsciiCaseAndTheFileKeepsItsSpelling) {
    write("[Layout]\nMainWindowX = 12\nmainwindowy=34\n");
    EXPECT_TRUE(OpenIni(ini, path, "layout", kIniRead));
    EXPECT_EQ(IniInt(ini, "MAINWINDOWX", 10), 12);
    EXPECT_EQ(IniInt(ini, "MainWindowY", 10), 34);
    CloseIni(ini);
    OpenIni(ini, path, "LAYOUT", kIniWrite);
    IniInt(ini, "MAINWINDOWY", 56);
    CloseIni(ini);
    // Only the written line changes; the untouched one keeps its blanks; line ends become CR LF.
    EXPECT_EQ(contents(), "[Layout]\r\nMainWindowX = 12\r\nmainwindowy=56\r\n");
}

TEST_F(IniFileTest, ChangingOneKeyKeepsCommentsBlankLinesAndForeignSections) {
    const std::string original =
        "; my settings\r\n\r\n[Layout]\r\n; window\r\nMainWindowX=10\r\nMainWindowY=20\r\n\r\n[SomeoneElse]\r\n"
        "Their Key = their value \r\n garbage line\r\n[broken header\r\n";
    write(original);
    OpenIni(ini, path, "Layout", kIniWrite);
    IniInt(ini, "MainWindowY", 99);
    CloseIni(ini);
    std::string expected = original;
    expected.replace(expected.find("MainWindowY=20"), 14, "MainWindowY=99");
    EXPECT_EQ(contents(), expected);
}

TEST_F(IniFileTest, EveryLineOfTheFileSurvivesARewrite) {
    // A blank first line, a value that looks like the table's end marker, a header with text after it.
    const std::string original = "\r\n[A][x]\r\nbrackets=[]\r\nk=1\r\n";
    write(original);
    OpenIni(ini, path, "A", kIniWrite);
    IniStr(ini, "k", "2");
    CloseIni(ini);
    EXPECT_EQ(contents(), "\r\n[A][x]\r\nbrackets=[]\r\nk=2\r\n");
}

TEST_F(IniFileTest, WritingDeletesWithAnEmptyValueAndNeverCreatesEmptyKeys) {
    write("[A]\r\nx=1\r\ny=2\r\n");
    OpenIni(ini, path, "A", kIniWrite);
    IniStr(ini, "x", "  ");
    IniStr(ini, "z", "");
    CloseIni(ini);
    EXPECT_EQ(contents(), "[A]\r\ny=2\r\n");
    OpenIni(ini, path, "A", kIniRead);
    EXPECT_EQ(IniStr(ini, "x", "default"), "default");
}

TEST_F(IniFileTest, ANewSectionGoesToTheEndAfterABlankLineOrFirstInAnEmptyFile) {
    OpenIni(ini, path, "First", kIniWrite);
    IniStr(ini, "k", "v");
    CloseIni(ini);
    EXPECT_EQ(contents(), "[First]\r\nk=v\r\n");
    OpenIni(ini, path, "Second", kIniWrite);
    IniStr(ini, "a", "1");
    IniStr(ini, "b", "2");
    CloseIni(ini);
    EXPECT_EQ(contents(), "[First]\r\nk=v\r\n\r\n[Second]\r\na=1\r\nb=2\r\n");
}

TEST_F(IniFileTest, ClearingKeysKeepsCommentsAndPutsTheNewKeysAfterTheLastComment) {
    write("[P]\r\n; ports\r\nold1=a\r\n; end of ports\r\nold2=b\r\n\r\n[Q]\r\nq=1\r\n");
    OpenIni(ini, path, "P", kIniClearKeys);
    IniStr(ini, "new2", "y");
    IniStr(ini, "new1", "x");
    CloseIni(ini);
    EXPECT_EQ(contents(), "[P]\r\n; ports\r\n; end of ports\r\nnew2=y\r\nnew1=x\r\n\r\n[Q]\r\nq=1\r\n");
}

TEST_F(IniFileTest, RebuildingMovesTheSectionToTheEnd) {
    write("[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n\r\n[C]\r\nc=1\r\n");
    EXPECT_TRUE(OpenIni(ini, path, "B", kIniRebuild));
    IniStr(ini, "b", "2");
    CloseIni(ini);
    // The erased section took its own blank lines (before and after) with it.
    EXPECT_EQ(contents(), "[A]\r\na=1\r\n[C]\r\nc=1\r\n\r\n[B]\r\nb=2\r\n");
}

TEST_F(IniFileTest, SpecialKeysClearTheSectionsKeysOrTheWholeSection) {
    write("[A]\r\n; note\r\na=1\r\n\r\n[B]\r\nb=1\r\n");
    OpenIni(ini, path, "A", kIniWrite);
    IniStr(ini, "==", "");
    OpenIni(ini, path, "B", kIniWrite);
    IniStr(ini, "", "");
    IniStr(ini, "", "ignored");
    CloseIni(ini);
    EXPECT_EQ(contents(), "[A]\r\n; note\r\n");
}

TEST_F(IniFileTest, EnumerationReturnsEachKeyWithAValueInOrder) {
    write("[VSTfolders]\r\n/usr/lib/vst=VST\r\nempty=\r\n/opt/vst = Mine \r\n[Next]\r\nx=1\r\n");
    EXPECT_TRUE(OpenIni(ini, path, "VSTfolders", kIniEnumerate));
    EXPECT_EQ(IniStr(ini, "", ""), std::string("/usr/lib/vst") + kEnumSeparator + "VST");
    EXPECT_EQ(IniStr(ini, "", ""), std::string("/opt/vst") + kEnumSeparator + "Mine");
    EXPECT_EQ(IniStr(ini, "", "end"), "end");
    EXPECT_EQ(ini->lastKey, "/opt/vst");
}

TEST_F(IniFileTest, NumbersThatAreNotNumbersGiveTheDefault) {
    write("[N]\r\na=12\r\nb=twelve\r\nc=\r\nd=-7\r\ne=1x\r\nf=99999999999\r\n");
    OpenIni(ini, path, "N", kIniRead);
    EXPECT_EQ(IniInt(ini, "a", 0), 12);
    EXPECT_EQ(IniInt(ini, "b", 5), 5);
    EXPECT_EQ(IniInt(ini, "c", 5), 5);
    EXPECT_EQ(IniInt(ini, "d", 0), -7);
    EXPECT_EQ(IniInt(ini, "e", 5), 5);
    EXPECT_EQ(IniInt(ini, "f", 5), 5);
    EXPECT_TRUE(IniBool(ini, "d", false));
    EXPECT_FALSE(IniBool(ini, "missing", false));
}

TEST_F(IniFileTest, TheSameFileInTheSameModeIsNotReadAgain) {
    write("[A]\r\na=1\r\n");
    OpenIni(ini, path, "A", kIniWrite);
    IniStr(ini, "a", "2");
    OpenIni(ini, path, "B", kIniWrite); // same file, same mode: the pending write stays
    IniStr(ini, "b", "3");
    OpenIni(ini, path, "A", kIniRead); // another mode: written, then read afresh
    EXPECT_EQ(IniStr(ini, "a", ""), "2");
    CloseIni(ini);
    EXPECT_EQ(contents(), "[A]\r\na=2\r\n\r\n[B]\r\nb=3\r\n");
}

TEST_F(IniFileTest, AnEmptyFileNameIsRefusedWithALogLine) {
    EXPECT_FALSE(OpenIni(ini, "", "A", kIniRead));
    EXPECT_FALSE(ini);
    EXPECT_THAT(log.errors(), Contains("OpenIni: fi=nil & Fini='"));
}

TEST_F(IniFileTest, ListValuesSplitAtCommasOutsideQuotes) {
    IniCursor cursor;
    EXPECT_EQ(IniItem(-1, cursor, "1,'a,b',3"), "");
    EXPECT_EQ(IniItem(0, cursor), "1");
    EXPECT_EQ(IniItem(1, cursor), "a,b");
    EXPECT_TRUE(cursor.quoted);
    EXPECT_EQ(IniItem(2, cursor), "3");
    EXPECT_EQ(IniItem(3, cursor), "");
    EXPECT_EQ(IniItem(-3, cursor, "1,"), kIniError);
    EXPECT_EQ(IniItem(-1, cursor, std::string("key") + kEnumSeparator + "\"x\",,y"), "key");
    EXPECT_EQ(IniItem(0, cursor), "x");
    EXPECT_EQ(IniItem(1, cursor), "");
    EXPECT_EQ(IniItem(2, cursor), "y");
}

// Guards the fault where a file longer than the table was written back from what was read.
TEST_F(IniFileTest, AFileBeyondTenThousandLinesIsReadButNeverWrittenBack) {
    std::string text = "[Big]\r\n";
    for (int i = 1; i <= 10500; ++i) text += "k" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    write(text);
    OpenIni(ini, path, "Big", kIniWrite);
    EXPECT_EQ(ini->count(), static_cast<int>(kMaxIniLines));
    IniStr(ini, "k5", "changed");
    IniStr(ini, "k10400", "too far"); // in the tail the table does not hold: added, if there is room
    EXPECT_FALSE(CloseIni(ini));
    EXPECT_EQ(contents(), text);
    EXPECT_THAT(log.errors(), Contains(HasSubstr("was not read whole: not written, so that none of it is lost")));
}

TEST_F(IniFileTest, LongNamesAndValuesReadCutButAreWrittenBackWhole) {
    const std::string longValue(400, 'v');
    write("[L]\r\nlong=" + longValue + "\r\nshort=1\r\n");
    OpenIni(ini, path, "L", kIniWrite);
    EXPECT_EQ(ini->lines[1].value.size(), kMaxIniText);
    IniStr(ini, "short", "2");
    CloseIni(ini);
    EXPECT_EQ(contents(), "[L]\r\nlong=" + longValue + "\r\nshort=2\r\n");
}

TEST_F(IniFileTest, AWriteInterruptedBeforeTheRenameLeavesTheOldFile) {
    write("[A]\r\nkept=yes\r\n");
    const pid_t child = fork();
    if (child == 0) {
        // The process dies at the worst moment: the new file is complete, not yet in place.
        platform::setBeforeReplaceHook([](const std::string&) { raise(SIGKILL); });
        IniHandle handle;
        OpenIni(handle, path, "A", kIniWrite);
        IniStr(handle, "kept", "no");
        CloseIni(handle);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(contents(), "[A]\r\nkept=yes\r\n");
}

TEST_F(IniFileTest, AWriteThatFailsIsLoggedAndKeepsTheOldFile) {
    ASSERT_TRUE(platform::makeDirectories(path + ".d"));
    const std::string target = path + ".d";
    OpenIni(ini, target, "A", kIniWrite);
    IniStr(ini, "k", "v");
    EXPECT_FALSE(CloseIni(ini));
    EXPECT_THAT(log.errors(), Contains(HasSubstr("CloseIni: " + target + " not written")));
    EXPECT_TRUE(test::fileExists(target));
}

} // namespace
} // namespace trelvo::persist
