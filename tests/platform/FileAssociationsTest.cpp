// File associations in a temporary XDG data folder: what "on" writes, that "off" gives the
// folder back byte for byte (with and without the cache tools installed), and that a folder
// that cannot be written fails with a reason and leaves nothing behind.
#include "platform/FileAssociations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "TestPaths.h"
#include "platform/TrelvoHome.h"
#include "support/EnvironmentVariable.h"
#include "support/RunProgram.h"
#include "support/TempFolder.h"

namespace trelvo::platform {
namespace {

using test::EnvironmentVariable;

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr Association kAvailable[] = {Association::Plugins, Association::Projects, Association::Profiles};

/// Every entry under root (root itself as ".") with its kind and contents, so that two
/// snapshots are equal only when the folder is the same byte for byte.
std::map<std::string, std::string> contentsOf(const std::string& root) {
    std::map<std::string, std::string> contents;
    const fs::file_status rootStatus = fs::symlink_status(root);
    if (!fs::exists(rootStatus)) return contents;
    if (!fs::is_directory(rootStatus)) return {{".", "file " + test::readFile(root)}};
    contents["."] = "folder";
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).string();
        if (entry.is_symlink())
            contents[name] = "link " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            contents[name] = "folder";
        else
            contents[name] = "file " + test::readFile(entry.path().string());
    }
    return contents;
}

std::string installedTool(const char* name) {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        const std::string candidate = list.substr(start, end - start) + "/" + name;
        if (end > start && isRegularFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

std::string nameOf(Association association) {
    switch (association) {
    case Association::Plugins: return "Plugins";
    case Association::Plugins2: return "Plugins2";
    case Association::Projects: return "Projects";
    case Association::Profiles: return "Profiles";
    }
    return {};
}

/// A data folder and a Trelvo home in a temporary folder; PATH empty unless the tools are used.
class AssociationFolders {
public:
    explicit AssociationFolders(bool withTools) : path("PATH", withTools ? std::getenv("PATH") : "") {
        context.dataHome = folder.file("share");
        context.program = "/opt/Stage Tools/trelvo";
        context.textEditor = "/usr/bin/mousepad";
        context.title = "Trelvo";
        context.stateFolder = folder.file("home");
        makeDirectories(context.stateFolder);
    }

    bool set(Association association, bool on) {
        error = "unset";
        return setAssociation(association, on, context, error);
    }
    std::string data(const std::string& name) const { return context.dataHome + "/" + name; }
    std::map<std::string, std::string> everything() const { return contentsOf(folder.path()); }

    /// What a user's data folder holds: defaults of their own (one of them for Trelvo's project
    /// type), another program's entry and another mime package; with the tools, their caches.
    void addUsersOwnFiles() {
        ASSERT_TRUE(makeDirectories(data("applications")));
        ASSERT_TRUE(makeDirectories(data("mime/packages")));
        test::writeFile(data("applications/mimeapps.list"), kUsersList);
        test::writeFile(data("applications/org.example.Editor.desktop"),
                        "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor %f\nMimeType=text/plain;\n");
        test::writeFile(data("mime/packages/org.example.Score.xml"),
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                        "  <mime-type type=\"application/x-example-score\">\n"
                        "    <comment>Score</comment>\n    <glob pattern=\"*.score\"/>\n  </mime-type>\n"
                        "</mime-info>\n");
        if (const std::string tool = installedTool("update-mime-database"); !tool.empty()) {
            ASSERT_EQ(test::runProgram(tool, {data("mime")}).exitCode, 0);
        }
        if (const std::string tool = installedTool("update-desktop-database"); !tool.empty()) {
            ASSERT_EQ(test::runProgram(tool, {"-q", data("applications")}).exitCode, 0);
        }
    }

    static constexpr const char* kUsersList = "[Default Applications]\n"
                                              "text/plain=org.example.Editor.desktop;\n"
                                              "application/x-trelvo-project=org.example.Sequencer.desktop;\n"
                                              "\n"
                                              "[Added Associations]\n"
                                              "image/png=org.example.Viewer.desktop;\n";

    test::TempFolder folder;
    EnvironmentVariable path;
    AssociationContext context;
    std::string error;
};

enum class CacheTools { Absent, Installed };

class FileAssociationsRoundTrip : public ::testing::TestWithParam<CacheTools> {
protected:
    void SetUp() override {
        if (withTools() &&
            (installedTool("update-mime-database").empty() || installedTool("update-desktop-database").empty()))
            GTEST_SKIP() << "update-mime-database or update-desktop-database is not installed";
    }
    bool withTools() const { return GetParam() == CacheTools::Installed; }

    AssociationFolders folders{withTools()};
};

TEST_P(FileAssociationsRoundTrip, EachOnThenOffLeavesAnEmptyDataFolderAsItWas) {
    ASSERT_TRUE(makeDirectories(folders.context.dataHome));
    const auto before = folders.everything();
    for (const Association association : kAvailable) {
        SCOPED_TRACE(nameOf(association));
        ASSERT_TRUE(folders.set(association, true)) << folders.error;
        EXPECT_EQ(folders.error, "");
        EXPECT_TRUE(associationInstalled(association, folders.context));
        if (withTools()) {
            // The tools ran: the desktop's caches know the new entry and type.
            const std::string cache = test::readFile(folders.data("applications/mimeinfo.cache"));
            EXPECT_THAT(cache, HasSubstr(association == Association::Plugins
                                             ? "application/x-sharedlib=Marnik.DLL_file.desktop;"
                                         : association == Association::Projects
                                             ? "application/x-trelvo-project=Marnik.VPRJ_file.desktop;"
                                             : "application/x-trelvo-profile=Marnik.VPRF_file.desktop;"));
            if (association != Association::Plugins) {
                EXPECT_THAT(test::readFile(folders.data("mime/globs2")),
                            HasSubstr(association == Association::Projects ? "application/x-trelvo-project:*.vprj"
                                                                           : "application/x-trelvo-profile:*.vprf"));
            }
        }
        ASSERT_TRUE(folders.set(association, false)) << folders.error;
        EXPECT_EQ(folders.error, "");
        EXPECT_FALSE(associationInstalled(association, folders.context));
        EXPECT_EQ(folders.everything(), before);
    }
}

TEST_P(FileAssociationsRoundTrip, AllOnThenOffInAnotherOrderRemovesTheFoldersItCreated) {
    folders.context.dataHome = folders.folder.file("user/.local/share");
    const auto before = folders.everything();
    for (const Association association : kAvailable) ASSERT_TRUE(folders.set(association, true)) << folders.error;
    EXPECT_EQ(test::readFile(folders.data("applications/mimeapps.list")),
              "[Default Applications]\n"
              "application/x-trelvo-project=Marnik.VPRJ_file.desktop;\n"
              "application/x-trelvo-profile=Marnik.VPRF_file.desktop;\n");

    ASSERT_TRUE(folders.set(Association::Projects, false)) << folders.error;
    EXPECT_EQ(test::readFile(folders.data("applications/mimeapps.list")),
              "[Default Applications]\napplication/x-trelvo-profile=Marnik.VPRF_file.desktop;\n");
    EXPECT_TRUE(associationInstalled(Association::Profiles, folders.context));
    EXPECT_TRUE(associationInstalled(Association::Plugins, folders.context));
    if (withTools()) {
        EXPECT_THAT(test::readFile(folders.data("mime/globs2")), Not(HasSubstr("application/x-trelvo-project")));
    }

    ASSERT_TRUE(folders.set(Association::Plugins, false)) << folders.error;
    ASSERT_TRUE(folders.set(Association::Profiles, false)) << folders.error;
    EXPECT_EQ(folders.everything(), before);
}

TEST_P(FileAssociationsRoundTrip, OnThenOffKeepsTheUsersOwnFilesByteForByte) {
    folders.addUsersOwnFiles();
    const auto before = folders.everything();
    for (const Association association : kAvailable) {
        SCOPED_TRACE(nameOf(association));
        ASSERT_TRUE(folders.set(association, true)) << folders.error;
        ASSERT_TRUE(folders.set(association, false)) << folders.error;
        EXPECT_EQ(folders.everything(), before);
    }

    for (const Association association : kAvailable) ASSERT_TRUE(folders.set(association, true)) << folders.error;
    // The user's default for projects stays; profiles, which had none, get Trelvo's.
    EXPECT_EQ(test::readFile(folders.data("applications/mimeapps.list")),
              "[Default Applications]\n"
              "text/plain=org.example.Editor.desktop;\n"
              "application/x-trelvo-project=org.example.Sequencer.desktop;\n"
              "application/x-trelvo-profile=Marnik.VPRF_file.desktop;\n"
              "\n"
              "[Added Associations]\n"
              "image/png=org.example.Viewer.desktop;\n");
    if (withTools()) {
        const std::string globs = test::readFile(folders.data("mime/globs2"));
        EXPECT_THAT(globs, HasSubstr("application/x-example-score:*.score"));
        EXPECT_THAT(globs, HasSubstr("application/x-trelvo-project:*.vprj"));
    }
    for (const Association association : {Association::Profiles, Association::Plugins, Association::Projects})
        ASSERT_TRUE(folders.set(association, false)) << folders.error;
    EXPECT_EQ(folders.everything(), before);
}

TEST_P(FileAssociationsRoundTrip, ASectionAndALineAddedToAListWithoutThemAreTakenOutExactly) {
    // No [Default Applications] yet, and no newline at the end of the last line.
    ASSERT_TRUE(makeDirectories(folders.data("applications")));
    test::writeFile(folders.data("applications/mimeapps.list"), "[Added Associations]\nimage/png=viewer.desktop;");
    const auto before = folders.everything();
    ASSERT_TRUE(folders.set(Association::Profiles, true)) << folders.error;
    EXPECT_EQ(test::readFile(folders.data("applications/mimeapps.list")),
              "[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n"
              "application/x-trelvo-profile=Marnik.VPRF_file.desktop;\n");
    ASSERT_TRUE(folders.set(Association::Profiles, false)) << folders.error;
    EXPECT_EQ(folders.everything(), before);

    // A section that ends the file without a newline gets the line after its last entry.
    test::writeFile(folders.data("applications/mimeapps.list"), "[Default Applications]\ntext/plain=editor.desktop;");
    const auto withSection = folders.everything();
    ASSERT_TRUE(folders.set(Association::Projects, true)) << folders.error;
    EXPECT_EQ(test::readFile(folders.data("applications/mimeapps.list")),
              "[Default Applications]\ntext/plain=editor.desktop;\n"
              "application/x-trelvo-project=Marnik.VPRJ_file.desktop;");
    ASSERT_TRUE(folders.set(Association::Projects, false)) << folders.error;
    EXPECT_EQ(folders.everything(), withSection);
}

TEST_P(FileAssociationsRoundTrip, SwitchingOffWhatWasNeverOnChangesNothing) {
    folders.addUsersOwnFiles();
    const auto before = folders.everything();
    for (const Association association :
         {Association::Plugins, Association::Plugins2, Association::Projects, Association::Profiles}) {
        SCOPED_TRACE(nameOf(association));
        EXPECT_TRUE(folders.set(association, false)) << folders.error;
        EXPECT_EQ(folders.everything(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(FileAssociations, FileAssociationsRoundTrip,
                         ::testing::Values(CacheTools::Absent, CacheTools::Installed),
                         [](const ::testing::TestParamInfo<CacheTools>& test) {
                             return test.param == CacheTools::Absent ? "NoTools" : "WithTools";
                         });

/// The lines of a desktop entry's group, "[Desktop Entry]" or "[Desktop Action edit]".
std::vector<std::string> groupOf(const std::string& entry, const std::string& group) {
    std::vector<std::string> lines;
    bool inside = false;
    for (std::size_t start = 0; start < entry.size();) {
        std::size_t end = entry.find('\n', start);
        if (end == std::string::npos) end = entry.size();
        const std::string line = entry.substr(start, end - start);
        start = end + 1;
        if (line.starts_with("["))
            inside = line == "[" + group + "]";
        else if (inside && !line.empty())
            lines.push_back(line);
    }
    return lines;
}

TEST(FileAssociations, DesktopEntriesOpenWithTheProgramAndEditWithTheEditor) {
    using ::testing::Contains;
    AssociationFolders folders(false);
    ASSERT_TRUE(folders.set(Association::Projects, true)) << folders.error;
    const std::string project = test::readFile(folders.data("applications/Marnik.VPRJ_file.desktop"));
    const auto projectMain = groupOf(project, "Desktop Entry");
    EXPECT_THAT(projectMain, Contains("Exec=\"/opt/Stage Tools/trelvo\" %f"));
    EXPECT_THAT(projectMain, Contains("MimeType=application/x-trelvo-project;"));
    EXPECT_THAT(projectMain, Contains("Comment=Trelvo Project"));
    EXPECT_THAT(projectMain, Contains("Actions=edit;"));
    EXPECT_THAT(groupOf(project, "Desktop Action edit"), Contains("Exec=/usr/bin/mousepad %f"));

    // A profile's "open" runs its plug-in in Trelvo; "edit" opens the text.
    ASSERT_TRUE(folders.set(Association::Profiles, true)) << folders.error;
    const std::string profile = test::readFile(folders.data("applications/Marnik.VPRF_file.desktop"));
    EXPECT_THAT(groupOf(profile, "Desktop Entry"), Contains("Exec=\"/opt/Stage Tools/trelvo\" %f"));
    EXPECT_THAT(groupOf(profile, "Desktop Entry"), Contains("MimeType=application/x-trelvo-profile;"));
    EXPECT_THAT(groupOf(profile, "Desktop Action edit"), Contains("Exec=/usr/bin/mousepad %f"));

    // Without an editor there is no edit action.
    folders.context.textEditor.clear();
    ASSERT_TRUE(folders.set(Association::Projects, false)) << folders.error;
    ASSERT_TRUE(folders.set(Association::Projects, true)) << folders.error;
    const std::string plain = test::readFile(folders.data("applications/Marnik.VPRJ_file.desktop"));
    EXPECT_THAT(plain, Not(HasSubstr("Actions=")));
    EXPECT_THAT(plain, Not(HasSubstr("[Desktop Action")));

    if (const std::string validate = installedTool("desktop-file-validate"); !validate.empty()) {
        const test::ProgramResult result =
            test::runProgram(validate, {folders.data("applications/Marnik.VPRF_file.desktop"),
                                        folders.data("applications/Marnik.VPRJ_file.desktop")});
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    }

    // associationInstalled looks at the files, not at what Trelvo remembers.
    ASSERT_TRUE(fs::remove(folders.data("applications/Marnik.VPRJ_file.desktop")));
    EXPECT_FALSE(associationInstalled(Association::Projects, folders.context));
}

TEST(FileAssociations, PluginsAreOfferedUnderOpenWithButNeverMadeTheDefault) {
    AssociationFolders folders(false);
    ASSERT_TRUE(folders.set(Association::Plugins, true)) << folders.error;
    const std::string entry = test::readFile(folders.data("applications/Marnik.DLL_file.desktop"));
    EXPECT_THAT(groupOf(entry, "Desktop Entry"), ::testing::Contains("MimeType=application/x-sharedlib;"));
    EXPECT_THAT(groupOf(entry, "Desktop Entry"), ::testing::Contains("NoDisplay=true"));
    EXPECT_THAT(entry, Not(HasSubstr("Actions=")));
    EXPECT_FALSE(test::fileExists(folders.data("applications/mimeapps.list")));
    EXPECT_FALSE(test::fileExists(folders.data("mime")));

    // Nor when the list exists and has no default for shared libraries.
    folders.addUsersOwnFiles();
    ASSERT_TRUE(folders.set(Association::Plugins, true)) << folders.error;
    EXPECT_EQ(test::readFile(folders.data("applications/mimeapps.list")), AssociationFolders::kUsersList);
}

TEST(FileAssociations, ExecQuotesWhatTheDesktopWouldSplitOrExpand) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/trelvo", "Exec=/usr/bin/trelvo %f"},
        {"/opt/Stage Tools/trelvo", "Exec=\"/opt/Stage Tools/trelvo\" %f"},
        {"/opt/it's/trelvo", "Exec=\"/opt/it's/trelvo\" %f"},
        // Inside quotes $, " and ` get a backslash, which the string escapes then double.
        {"/opt/$HOME/\"x\"/`t`", "Exec=\"/opt/\\\\$HOME/\\\\\"x\\\\\"/\\\\`t\\\\`\" %f"},
        // A literal backslash takes four.
        {"/opt/back\\slash/trelvo", "Exec=\"/opt/back\\\\\\\\slash/trelvo\" %f"},
        {"/opt/100%/trelvo", "Exec=/opt/100%%/trelvo %f"},
    };
    for (const auto& [program, exec] : cases) {
        SCOPED_TRACE(program);
        AssociationFolders folders(false);
        folders.context.program = program;
        ASSERT_TRUE(folders.set(Association::Plugins, true)) << folders.error;
        EXPECT_THAT(groupOf(test::readFile(folders.data("applications/Marnik.DLL_file.desktop")), "Desktop Entry"),
                    ::testing::Contains(exec));
    }

    // A line break cannot be written into an Exec line at all.
    AssociationFolders folders(false);
    const auto before = folders.everything();
    folders.context.program = "/opt/two\nlines/trelvo";
    EXPECT_FALSE(folders.set(Association::Projects, true));
    EXPECT_THAT(folders.error, HasSubstr("desktop entry"));
    EXPECT_EQ(folders.everything(), before);
}

/// The <mime-type> element of mimeType as written in a package file.
std::string mimeTypeElement(const std::string& package, const std::string& mimeType) {
    const std::size_t start = package.find("<mime-type type=\"" + mimeType + "\">");
    if (start == std::string::npos) return {};
    const std::size_t end = package.find("</mime-type>", start);
    return end == std::string::npos ? std::string() : package.substr(start, end - start);
}

TEST(FileAssociations, MimePackagesDeclareTheTypesOfTheInstalledPackage) {
    const std::string installed = test::readFile(TRELVO_SOURCE_DIR "/packaging/trelvo-mime.xml");
    AssociationFolders folders(false);
    const std::pair<Association, const char*> types[] = {{Association::Projects, "application/x-trelvo-project"},
                                                         {Association::Profiles, "application/x-trelvo-profile"}};
    for (const auto& [association, mimeType] : types) {
        SCOPED_TRACE(mimeType);
        ASSERT_TRUE(folders.set(association, true)) << folders.error;
        const std::string package = test::readFile(
            folders.data(std::string("mime/packages/") +
                         (association == Association::Projects ? "Marnik.VPRJ_file.xml" : "Marnik.VPRF_file.xml")));
        const std::string element = mimeTypeElement(installed, mimeType);
        ASSERT_FALSE(element.empty());
        EXPECT_EQ(mimeTypeElement(package, mimeType), element);
        EXPECT_EQ(package.find("<mime-type "), package.rfind("<mime-type ")) << "one type per package";
    }
}

TEST(FileAssociations, AFolderThatCannotBeWrittenFailsWithAReasonAndLeavesNothing) {
    struct Obstacle {
        const char* what;
        const char* path; // under the temporary folder
        bool isFolder;    // a folder where a file should be, else a file where a folder should be
    };
    const Obstacle obstacles[] = {
        {"the data folder is a file", "share", false},
        {"the applications folder is a file", "share/applications", false},
        // The desktop entry is written before the mime folder is found unusable, then undone.
        {"the mime folder is a file", "share/mime", false},
        {"the packages folder is a file", "share/mime/packages", false},
        {"mimeapps.list is a folder", "share/applications/mimeapps.list", true},
        {"the desktop entry is a folder", "share/applications/Marnik.VPRJ_file.desktop", true},
        {"the Trelvo home is a file", "home", false},
    };
    for (const Obstacle& obstacle : obstacles) {
        SCOPED_TRACE(obstacle.what);
        AssociationFolders folders(false);
        const std::string path = folders.folder.file(obstacle.path);
        fs::remove_all(path);
        ASSERT_TRUE(makeDirectories(path.substr(0, path.rfind('/'))));
        if (obstacle.isFolder)
            ASSERT_TRUE(makeDirectories(path));
        else
            test::writeFile(path, "in the way\n");
        const auto before = folders.everything();
        EXPECT_FALSE(folders.set(Association::Projects, true));
        EXPECT_THAT(folders.error, HasSubstr(path));
        EXPECT_EQ(folders.everything(), before);
        EXPECT_FALSE(associationInstalled(Association::Projects, folders.context));
    }
}

TEST(FileAssociations, AnEntryOfThatNameTrelvoDidNotWriteIsLeftAlone) {
    AssociationFolders folders(false);
    ASSERT_TRUE(makeDirectories(folders.data("applications")));
    test::writeFile(folders.data("applications/Marnik.VPRJ_file.desktop"), "[Desktop Entry]\nName=Someone else's\n");
    const auto before = folders.everything();
    EXPECT_FALSE(folders.set(Association::Projects, true));
    EXPECT_THAT(folders.error, HasSubstr("Marnik.VPRJ_file.desktop"));
    EXPECT_EQ(folders.everything(), before);
}

TEST(FileAssociations, OffKeepsWhatTheUserChangedAfterOn) {
    AssociationFolders folders(false);
    ASSERT_TRUE(folders.set(Association::Projects, true)) << folders.error;
    ASSERT_TRUE(folders.set(Association::Profiles, true)) << folders.error;
    // The user chose another program for profiles and added a default of their own.
    test::writeFile(folders.data("applications/mimeapps.list"),
                    "[Default Applications]\n"
                    "application/x-trelvo-project=Marnik.VPRJ_file.desktop;\n"
                    "application/x-trelvo-profile=org.example.Editor.desktop;\n"
                    "text/plain=org.example.Editor.desktop;\n");
    ASSERT_TRUE(folders.set(Association::Projects, false)) << folders.error;
    ASSERT_TRUE(folders.set(Association::Profiles, false)) << folders.error;
    EXPECT_EQ(test::readFile(folders.data("applications/mimeapps.list")),
              "[Default Applications]\n"
              "application/x-trelvo-profile=org.example.Editor.desktop;\n"
              "text/plain=org.example.Editor.desktop;\n");
    EXPECT_FALSE(test::fileExists(folders.data("applications/Marnik.VPRJ_file.desktop")));
    EXPECT_FALSE(test::fileExists(folders.data("mime")));
}

TEST(FileAssociations, ACacheToolThatFailsIsReportedWhileTheAssociationHolds) {
    AssociationFolders folders(false);
    const std::string bin = folders.folder.file("bin");
    const std::string log = folders.folder.file("tools.log");
    ASSERT_TRUE(makeDirectories(bin));
    for (const char* tool : {"update-mime-database", "update-desktop-database"}) {
        test::writeFile(bin + "/" + tool, "#!/bin/sh\necho \"" + std::string(tool) + " $*\" >>'" + log + "'\nexit 3\n");
        ASSERT_EQ(chmod((bin + "/" + tool).c_str(), 0755), 0);
    }
    EnvironmentVariable path("PATH", bin.c_str());
    const auto before = contentsOf(folders.context.dataHome);

    ASSERT_TRUE(folders.set(Association::Projects, true)) << folders.error;
    EXPECT_THAT(folders.error, HasSubstr("update-mime-database " + folders.data("mime") + " ended with status 3"));
    EXPECT_THAT(folders.error, HasSubstr("update-desktop-database " + folders.data("applications")));
    EXPECT_TRUE(associationInstalled(Association::Projects, folders.context));
    EXPECT_EQ(test::readFile(log), "update-mime-database " + folders.data("mime") + "\n" +
                                       "update-desktop-database -q " + folders.data("applications") + "\n");

    ASSERT_TRUE(folders.set(Association::Projects, false)) << folders.error;
    EXPECT_EQ(contentsOf(folders.context.dataHome), before);
}

TEST(FileAssociations, DlPluginsAreNotAvailableOnLinux) {
    EXPECT_FALSE(associationAvailable(Association::Plugins2));
    for (const Association association : kAvailable) EXPECT_TRUE(associationAvailable(association));

    AssociationFolders folders(false);
    const auto before = folders.everything();
    EXPECT_FALSE(folders.set(Association::Plugins2, true));
    EXPECT_THAT(folders.error, HasSubstr(".dl"));
    EXPECT_TRUE(folders.set(Association::Plugins2, false)) << folders.error;
    EXPECT_FALSE(associationInstalled(Association::Plugins2, folders.context));
    EXPECT_EQ(folders.everything(), before);
}

TEST(FileAssociations, DefaultDataHomeFollowsXdgDataHomeThenHome) {
    EnvironmentVariable home("HOME", "/home/musician");
    {
        EnvironmentVariable data("XDG_DATA_HOME", "/srv/data/");
        EXPECT_EQ(defaultDataHome(), "/srv/data");
    }
    {
        // Relative values are to be ignored.
        EnvironmentVariable data("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(defaultDataHome(), "/home/musician/.local/share");
    }
    EnvironmentVariable data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(defaultDataHome(), "/home/musician/.local/share");
}

} // namespace
} // namespace trelvo::platform
