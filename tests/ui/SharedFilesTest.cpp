#include "ui/SharedFiles.h"

#include <gtest/gtest.h>

#include <QFileInfo>

TEST(SharedFiles, TheSourceTreesShareFolderHoldsTheDemoProject) {
    EXPECT_TRUE(QFileInfo(trelvo::ui::sharedFile("demo/demo.vprj")).isFile())
        << trelvo::ui::sharedFolder().toStdString();
}
