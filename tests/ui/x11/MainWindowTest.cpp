#include <gtest/gtest.h>

#include <QGuiApplication>

TEST(MainWindowX11, RunsOnTheXcbPlatform) {
    EXPECT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
}
