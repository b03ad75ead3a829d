#include "session/PageTabs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestPaths.h"
#include "session/RackController.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace trelvo::rack {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(PageTabs, AddingStopsAtEightPagesAndTheOnlyPageStays) {
    PageTabs tabs;
    EXPECT_FALSE(tabs.remove());
    for (int page = 2; page <= 8; ++page) EXPECT_TRUE(tabs.add());
    EXPECT_EQ(tabs.names.back(), "Page 8");
    EXPECT_FALSE(tabs.add());
    EXPECT_EQ(tabs.names.size(), 8u);
    EXPECT_EQ(tabs.current, 0);
}

TEST(PageTabs, DeletingTheLastPageKeepsTheCurrentPageValid) {
    PageTabs tabs;
    tabs.add();
    tabs.add();
    tabs.current = 2;
    EXPECT_TRUE(tabs.remove());
    EXPECT_THAT(tabs.names, ElementsAre("Page 1", "Page 2"));
    EXPECT_EQ(tabs.current, 1);
    tabs.current = 0;
    EXPECT_TRUE(tabs.remove());
    EXPECT_THAT(tabs.names, ElementsAre("Page 2"));
    EXPECT_EQ(tabs.current, 0);
    // A new page is numbered by the count, whatever names are left.
    tabs.add();
    EXPECT_THAT(tabs.names, ElementsAre("Page 2", "Page 2"));
}

TEST(PageTabs, NextAndPreviousWrapAroundAtBothEnds) {
    PageTabs tabs;
    EXPECT_EQ(tabs.next(), 0); // one page: stays
    tabs.add();
    tabs.add();
    EXPECT_EQ(tabs.next(), 1);
    EXPECT_EQ(tabs.next(), 2);
    EXPECT_EQ(tabs.next(), 0);
    EXPECT_EQ(tabs.previous(), 2);
    EXPECT_EQ(tabs.current, 2);
}

TEST(PageTabs, RenamingNamesTheCurrentPageButNeverEmpty) {
    PageTabs tabs;
    tabs.add();
    tabs.current = 1;
    EXPECT_TRUE(tabs.rename("Strings"));
    EXPECT_FALSE(tabs.rename(""));
    EXPECT_THAT(tabs.names, ElementsAre("Page 1", "Strings"));
}

class PageChangeTest : public ::testing::Test {
protected:
    PageChangeTest() {
        controller.newRack();
        for (int i = 0; i < 4; ++i) plugIns.push_back(controller.loadPlugin(TrelvoGain_PATH));
        pages.add();
        pages.add();
    }
    host::TVstPlugIn& slot(int index) { return controller.rack().slot(index); }
    void showOn(int index, int page, int stack) {
        slot(index).EditorShown = true;
        slot(index).EditorTab = page;
        slot(index).EditorStack = stack;
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    RackController controller{settings};
    std::vector<int> plugIns; // slots 2 to 5
    PageTabs pages;
};

TEST_F(PageChangeTest, ThePagesEditorsAreShownWithNumberOneLastAndTheOthersClose) {
    // Page 0 shows 2 (front) and 3; page 1 holds 4 (stack 2), 5 (stack 1) and Master's
    // strip has no editor. Slot 1 is a channel with a stray flag: no plug-in, not shown.
    showOn(2, 0, 0);
    showOn(3, 0, 0);
    showOn(4, 1, 2);
    showOn(5, 1, 1);
    slot(1).EditorShown = true;
    slot(1).EditorTab = 1;

    const PageChange change = pages.change(controller.rack(), 1, {3, 2});
    EXPECT_EQ(slot(3).EditorStack, 1); // the window's order was stored
    EXPECT_EQ(slot(2).EditorStack, 2);
    EXPECT_THAT(change.closeSlots, ElementsAre(3, 2));
    EXPECT_THAT(change.showSlots, ElementsAre(4, 5)); // 5 ends in front
    EXPECT_EQ(change.frontSlot, 5);
    EXPECT_EQ(pages.current, 1);
    EXPECT_TRUE(log.contains("eTbSq:3=1,2=2"));
    EXPECT_TRUE(log.contains("nTbSq:5=1,4=2"));

    // Back again: page 0's editors in the order they were left.
    const PageChange back = pages.change(controller.rack(), 0, {5, 4});
    EXPECT_THAT(back.closeSlots, ElementsAre(5, 4));
    EXPECT_THAT(back.showSlots, ElementsAre(2, 3));
    EXPECT_EQ(back.frontSlot, 3);
}

TEST_F(PageChangeTest, DeletingAPageKeepsEveryEditorOnItsOwnPage) {
    // The fixture's three pages: 0, 1, 2.
    showOn(2, 0, 1);
    showOn(3, 1, 1);
    showOn(4, 2, 1);
    showOn(5, 2, 2);
    pages.current = 1;
    ASSERT_TRUE(pages.remove(&controller.rack()));
    EXPECT_THAT(pages.names, ElementsAre("Page 1", "Page 3"));
    EXPECT_EQ(slot(2).EditorTab, 0);
    EXPECT_EQ(slot(4).EditorTab, 1) << "what was the third page is now the second";
    EXPECT_EQ(slot(5).EditorTab, 1);
    EXPECT_EQ(slot(3).EditorTab, 1) << "the deleted page's editor went to the page now current";

    pages.current = 1; // the last page
    ASSERT_TRUE(pages.remove(&controller.rack()));
    EXPECT_EQ(pages.current, 0);
    for (const int editor : {2, 3, 4, 5}) EXPECT_EQ(slot(editor).EditorTab, 0) << editor;
}

TEST_F(PageChangeTest, EditorsWithoutANumberGoBehindAndAreMarked) {
    showOn(2, 2, 0);
    showOn(3, 2, 1);
    showOn(5, 2, 0);
    slot(4).EditorShown = false; // a closed editor of the page stays closed
    slot(4).EditorTab = 2;

    const PageChange change = pages.change(controller.rack(), 2, {});
    EXPECT_THAT(change.closeSlots, IsEmpty());
    EXPECT_THAT(change.showSlots, ElementsAre(5, 2, 3));
    EXPECT_EQ(change.frontSlot, 3);
    EXPECT_TRUE(log.contains("nTbSq:3=1,2=?,5=?"));
}

TEST_F(PageChangeTest, AnEmptyPageClosesEverythingAndSelectsNothing) {
    showOn(2, 0, 1);
    const PageChange change = pages.change(controller.rack(), 1, {2});
    EXPECT_THAT(change.closeSlots, ElementsAre(2));
    EXPECT_THAT(change.showSlots, IsEmpty());
    EXPECT_EQ(change.frontSlot, -1);

    log.clear();
    const PageChange nowhere = pages.change(controller.rack(), 3, {2});
    EXPECT_THAT(nowhere.closeSlots, IsEmpty());
    EXPECT_EQ(pages.current, 1);
    EXPECT_FALSE(log.contains("eTbSq:"));
}

TEST_F(PageChangeTest, ANewProjectOrAProjectWithoutPagesStartsOnOnePage) {
    controller.pages.add();
    controller.pages.add();
    controller.pages.current = 2;
    controller.newProject();
    EXPECT_THAT(controller.pages.names, ElementsAre("Page 1"));
    EXPECT_EQ(controller.pages.current, 0);

    controller.pages.add();
    const std::string project = home.file("no pages.vprj");
    test::writeFile(project, "[Project]\r\n01_SlotID=5001\r\n01_OUTPUT=Master\r\n01_RunMode=bms\r\n");
    ASSERT_TRUE(controller.openProject(project));
    EXPECT_THAT(controller.pages.names, ElementsAre("Page 1"));
}

} // namespace
} // namespace trelvo::rack
