#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "TestPaths.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"
#include "ui/ListPalette.h"
#include "ui/SharedFiles.h"
#include "ui/SlotListDelegate.h"
#include "ui/SlotListModel.h" // and the rack controller
#include "ui/SlotListView.h"
#include "ui/StatusIcons.h"

namespace trelvo::ui {
namespace {

using rack::RunMode;
using rack::SlotKind;

QPalette paletteOf(QRgb buttonFace, QRgb windowText) {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, QColor(buttonFace));
    palette.setColor(QPalette::WindowText, QColor(windowText));
    return palette;
}

class SlotListTest : public ::testing::Test {
protected:
    SlotListTest() {
        // 0 Master, 1 Channel 1, 2 a Gain plug-in, 3 a MIDI slot, 4 Channel 2, 5 a plug-in
        // whose library is missing.
        controller.newRack();
        controller.loadPlugin(TrelvoGain_PATH);
        controller.addSlot(SlotKind::Midi);
        controller.addSlot(SlotKind::Channel);
        controller.loadPlugin("/nonexistent/Missing.so");
        controller.select(1);
        view.setModel(&model);
    }

    void showView() {
        view.resize(260, 200);
        view.show();
        view.refresh();
        QApplication::processEvents();
    }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&view, key, modifiers);
    }

    /// The name editor now open (a closed one lingers, hidden, until deleted later).
    QLineEdit* nameEditor() {
        for (auto* editor : view.findChildren<QLineEdit*>())
            if (editor->isVisible()) return editor;
        return nullptr;
    }

    QRgb pixel(const QImage& image, int x, int row) {
        return image.pixel(view.viewport()->mapTo(&view, QPoint(x, view.rowViewportPosition(row) + 2)));
    }

    test::LogCapture log;
    test::TempFolder home;
    persist::AppSettings settings{home.path()};
    rack::RackController controller{settings};
    SlotListModel model{controller};
    SlotListView view;
};

TEST_F(SlotListTest, TheRackIsAsTheTestsExpect) {
    ASSERT_EQ(model.rowCount(), 6);
    std::string styles;
    for (int row = 0; row < model.rowCount(); ++row) styles += model.rowView(row)->style;
    EXPECT_EQ(styles, "bbnibi");
}

TEST_F(SlotListTest, EachViewShowsItsColumnsAtTheirWidths) {
    const std::vector<int> presets{80, 114, 0, 0, 0, 0}, levels{80, 0, 29, 29, 28, 28};
    for (const bool inLevels : {false, true}) {
        model.setColumnCursor(inLevels ? 2 : 1);
        const std::vector<int>& expected = inLevels ? levels : presets;
        for (int column = 0; column < SlotListModel::ColumnCount; ++column) {
            SCOPED_TRACE(testing::Message() << "levels " << inLevels << " column " << column);
            EXPECT_EQ(model.columnWidth(column), expected[static_cast<std::size_t>(column)]);
            EXPECT_EQ(view.isColumnHidden(column), expected[static_cast<std::size_t>(column)] == 0);
            if (expected[static_cast<std::size_t>(column)] > 0) {
                EXPECT_EQ(view.columnWidth(column), expected[static_cast<std::size_t>(column)]);
            }
        }
    }
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Channel/VST");
    EXPECT_EQ(model.headerData(5, Qt::Horizontal).toString(), "in");
}

TEST_F(SlotListTest, TheColumnCursorStaysWithinTheValueColumns) {
    showView();
    press(Qt::Key_Right); // the presets view has no value column
    press(Qt::Key_Left);
    EXPECT_EQ(model.columnCursor(), 1);
    press(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(model.columnCursor(), 1);

    press(Qt::Key_Backspace);
    EXPECT_EQ(model.columnCursor(), 2);
    EXPECT_TRUE(model.levelsView());
    press(Qt::Key_Left);
    EXPECT_EQ(model.columnCursor(), 2);
    for (int i = 0; i < 3; ++i) press(Qt::Key_Right);
    EXPECT_EQ(model.columnCursor(), 5);
    press(Qt::Key_Right);
    EXPECT_EQ(model.columnCursor(), 5);
    press(Qt::Key_Left);
    EXPECT_EQ(model.columnCursor(), 4);

    press(Qt::Key_Backspace);
    EXPECT_EQ(model.columnCursor(), 1);
    EXPECT_TRUE(view.isColumnHidden(SlotListModel::WetColumn));
    press(Qt::Key_Backspace); // back in the levels view at its first value column
    EXPECT_EQ(model.columnCursor(), 2);
}

TEST_F(SlotListTest, TheStatusIconFollowsTheRunModes) {
    host::TVstPlugIn& channel = controller.rack().slot(1);
    for (int combination = 0; combination < 8; ++combination) {
        channel.runMode.set(RunMode::Off, combination & 4);
        channel.runMode.set(RunMode::Mute, combination & 2);
        channel.runMode.set(RunMode::Solo, combination & 1);
        channel.runMode.set(RunMode::Bypass, true); // means nothing for a mixer's icon
        controller.rebuildRows();
        EXPECT_EQ(controller.rows[1].icon, combination) << channel.runMode.text();
    }
    host::TVstPlugIn& plugIn = controller.rack().slot(2);
    for (int combination = 0; combination < 4; ++combination) {
        plugIn.runMode.set(RunMode::Bypass, combination & 1);
        plugIn.runMode.set(RunMode::Off, combination & 2);
        plugIn.runMode.set(RunMode::Mute, true); // nor mute and solo for a plug-in's
        plugIn.runMode.set(RunMode::Solo, true);
        controller.rebuildRows();
        EXPECT_EQ(controller.rows[2].icon, 8 + combination) << plugIn.runMode.text();
    }
    model.refresh();
    EXPECT_EQ(model.data(model.index(2, 3), SlotListModel::kRowViewRole).value<rack::RowView>().icon, 11);
}

TEST_F(SlotListTest, RefreshSignalsOnlyWhatChanged) {
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy meters(&model, &SlotListModel::meterChanged);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

    model.refresh();
    EXPECT_EQ(changed.count() + meters.count() + resets.count(), 0);

    controller.rows[4].wet = "-6";
    controller.rows[4].meterSegment = 17;
    model.refresh();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(4, SlotListModel::WetColumn));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(4, SlotListModel::WetColumn));
    ASSERT_EQ(meters.count(), 1);
    EXPECT_EQ(meters[0][0].toInt(), 4);
    EXPECT_EQ(model.data(model.index(4, SlotListModel::WetColumn)).toString(), "-6");

    changed.clear();
    controller.rows[3].icon = 11; // the whole row is drawn anew
    model.refresh();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(3, 0));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(3, SlotListModel::ColumnCount - 1));
    EXPECT_EQ(resets.count(), 0);

    controller.addSlot(SlotKind::Midi);
    model.refresh();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(model.rowCount(), 7);
}

TEST_F(SlotListTest, RowsArePaintedInTheirKindsColoursWithLightAndDarkPalettes) {
    for (const auto& [face, text] : {std::pair<QRgb, QRgb>{0xF0F0F0, 0x000000}, {0x353535, 0xFFFFFF}}) {
        SCOPED_TRACE(testing::Message() << std::hex << face);
        view.setPalette(paletteOf(face, text));
        showView(); // channel 1 (row 1) selected
        const rack::ListColours colours = rack::listColoursFor(face, text);
        EXPECT_EQ(view.delegate().colours().mixer, colours.mixer);
        const QImage image = view.grab().toImage();
        const int presetX = 80 + 100; // right in the preset column, clear of any text
        EXPECT_EQ(pixel(image, presetX, 0), toQColor(colours.mixer).rgb());
        EXPECT_EQ(pixel(image, presetX, 1), toQColor(colours.selectedMixer).rgb());
        EXPECT_EQ(pixel(image, presetX, 2), toQColor(colours.background).rgb());
        EXPECT_EQ(pixel(image, presetX, 3), toQColor(colours.other).rgb());
        EXPECT_EQ(pixel(image, presetX, 5), toQColor(colours.other).rgb());

        controller.select(2);
        view.refresh();
        const QImage plugInSelected = view.grab().toImage();
        EXPECT_EQ(pixel(plugInSelected, presetX, 2), toQColor(colours.selectedPlugIn).rgb());
        EXPECT_EQ(pixel(plugInSelected, presetX, 1), toQColor(colours.mixer).rgb());
        controller.select(3);
        view.refresh();
        EXPECT_EQ(pixel(view.grab().toImage(), presetX, 3), toQColor(colours.selectedOther).rgb());
        controller.select(1);
        view.setModel(&model);
    }
}

TEST_F(SlotListTest, OnlyTheSelectedRowHasTheFullTextColourAndTheFocusFrame) {
    for (const auto& [face, text] : {std::pair<QRgb, QRgb>{0xF0F0F0, 0x000000}, {0x353535, 0xFFFFFF}}) {
        SCOPED_TRACE(testing::Message() << std::hex << face);
        view.setPalette(paletteOf(face, text));
        showView(); // channel 1 (row 1) selected
        model.setColumnCursor(3);
        const rack::ListColours colours = rack::listColoursFor(face, text);
        const QImage image = view.grab().toImage();
        // Antialiased glyphs blend towards the background, never past their own colour.
        const auto nameHas = [&](int row, std::uint32_t colour) {
            const QRect cell = view.visualRect(model.index(row, 0)).translated(view.viewport()->pos());
            for (int y = cell.top(); y < cell.bottom(); ++y)
                for (int x = cell.left() + 20; x < cell.right(); ++x)
                    if ((image.pixel(x, y) & 0xFFFFFFu) == colour) return true;
            return false;
        };
        EXPECT_TRUE(nameHas(1, colours.text));
        EXPECT_TRUE(nameHas(0, colours.softText));
        EXPECT_FALSE(nameHas(0, colours.text));

        const auto leftEdge = [&](int row, int column) {
            return image.pixel(view.viewport()->mapTo(
                &view, QPoint(view.columnViewportPosition(column), view.rowViewportPosition(row) + 8)));
        };
        EXPECT_EQ(leftEdge(1, 3), toQColor(colours.text).rgb());
        EXPECT_NE(leftEdge(1, 4), toQColor(colours.text).rgb());
        EXPECT_NE(leftEdge(0, 3), toQColor(colours.text).rgb());
        model.setColumnCursor(1);
    }
}

TEST_F(SlotListTest, AMixerRowsMeterLightsOnePixelPerSegment) {
    controller.rows[1].meterSegment = 23;
    showView();
    for (const int cursor : {1, 2}) {
        model.setColumnCursor(cursor);
        const QImage image = view.grab().toImage();
        const int bottom = view.rowViewportPosition(1) + view.rowHeight(1) - 2;
        const auto at = [&](int segmentPixel) {
            return QColor(image.pixel(view.viewport()->mapTo(&view, QPoint(81 + segmentPixel - 1, bottom))));
        };
        SCOPED_TRACE(cursor);
        EXPECT_EQ(at(1), SlotListDelegate::meterColour(1, 23));
        EXPECT_EQ(at(12), QColor(0, 200, 0));
        EXPECT_EQ(at(13), QColor(255, 220, 0));
        EXPECT_EQ(at(22), QColor(235, 0, 0));
        EXPECT_EQ(at(23), QColor(235, 0, 0));
        EXPECT_EQ(at(24), QColor(128, 0, 160));
        EXPECT_EQ(at(28), QColor(128, 0, 160)); // the track's end is not lost under the grid
    }
    EXPECT_EQ(SlotListDelegate::meterColour(1, 0), QColor(128, 0, 160));
}

TEST_F(SlotListTest, PageKeysJumpToTheNearestMixerSlot) {
    showView();
    QSignalSpy selections(&view, &SlotListView::slotSelected);
    controller.select(3);
    view.refresh();
    EXPECT_EQ(selections.count(), 0); // following the controller is not a user's choice

    press(Qt::Key_PageUp);
    EXPECT_EQ(view.currentIndex().row(), 1);
    press(Qt::Key_PageDown);
    EXPECT_EQ(view.currentIndex().row(), 4);
    press(Qt::Key_PageDown); // no mixer below: stays
    EXPECT_EQ(view.currentIndex().row(), 4);
    ASSERT_EQ(selections.count(), 2);
    EXPECT_EQ(selections[0][0].toInt(), 1);
    EXPECT_EQ(selections[1][0].toInt(), 4);

    press(Qt::Key_Down);
    EXPECT_EQ(selections.last()[0].toInt(), 5);
}

TEST_F(SlotListTest, ValueStepsTransportAndModeMenuKeysGoToTheWindow) {
    showView();
    QSignalSpy steps(&view, &SlotListView::stepValue);
    QSignalSpy transport(&view, &SlotListView::transportKey);
    QSignalSpy menus(&view, &SlotListView::programModeMenuRequested);

    press(Qt::Key_Backspace);
    press(Qt::Key_Right); // cursor on "dy"
    press(Qt::Key_Period);
    press(Qt::Key_Comma);
    press(Qt::Key_Period, Qt::KeypadModifier); // the keypad point types program numbers
    ASSERT_EQ(steps.count(), 2);
    EXPECT_EQ(steps[0][0].toInt(), 3);
    EXPECT_EQ(steps[0][1].toInt(), +1);
    EXPECT_EQ(steps[1][1].toInt(), -1);

    press(Qt::Key_Space, Qt::ShiftModifier);
    ASSERT_EQ(transport.count(), 1);
    EXPECT_EQ(transport[0][0].value<Qt::KeyboardModifiers>(), Qt::ShiftModifier);

    press(Qt::Key_Slash, Qt::ControlModifier);
    EXPECT_EQ(menus.count(), 0);
    press(Qt::Key_Slash);
    ASSERT_EQ(menus.count(), 1);
    const QRect row = view.visualRect(model.index(1, 0));
    EXPECT_EQ(menus[0][0].toPoint(), view.viewport()->mapToGlobal(row.bottomLeft()));
}

TEST_F(SlotListTest, ASlotIsRenamedInPlace) {
    EXPECT_TRUE(model.setData(model.index(4, 0), QString("Bass")));
    EXPECT_EQ(controller.rack().slot(4).SlotName, "Bass");
    EXPECT_EQ(model.data(model.index(4, 0)).toString(), "Bass");
    EXPECT_FALSE(model.setData(model.index(4, 1), QString("Preset"))); // only the name is editable
    EXPECT_FALSE(model.flags(model.index(4, 1)).testFlag(Qt::ItemIsEditable));

    showView();
    view.activateWindow();
    view.startRename(); // channel 1
    EXPECT_TRUE(view.isRenaming());
    QLineEdit* editor = nameEditor();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "Keys");
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(controller.rack().slot(1).SlotName, "Keys");

    view.startRename();
    editor = nameEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "Drums");
    QTest::keyClick(editor, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(controller.rack().slot(1).SlotName, "Keys");
    EXPECT_FALSE(view.isRenaming());
}

TEST(StatusIcons, TheSharedStripGivesTwelveDrawnIcons) {
    const StatusIconStrip icons = loadStatusIcons(sharedFile("icons/slot-status.png"));
    for (int i = 0; i < kStatusIconCount; ++i) {
        const QImage image = icons[static_cast<std::size_t>(i)].toImage();
        ASSERT_EQ(image.size(), QSize(16, 16));
        int opaque = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) opaque += qAlpha(image.pixel(x, y)) > 128;
        EXPECT_GT(opaque, 20) << "icon " << i;
    }
    EXPECT_EQ(statusIcon(12).size(), QSize(16, 16));
    EXPECT_EQ(statusIcon(3).toImage(), icons[3].toImage());
}

TEST(StatusIcons, AMissingStripGivesBlankIconsAndOneErrorLine) {
    test::LogCapture log;
    const StatusIconStrip icons = loadStatusIcons("/nonexistent/slot-status.png");
    for (const QPixmap& icon : icons) {
        ASSERT_EQ(icon.size(), QSize(16, 16));
        EXPECT_EQ(qAlpha(icon.toImage().pixel(8, 8)), 0);
    }
    ASSERT_EQ(log.errors().size(), 1u);
    EXPECT_NE(log.errors()[0].find("/nonexistent/slot-status.png"), std::string::npos);
}

} // namespace
} // namespace trelvo::ui
