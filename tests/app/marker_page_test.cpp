// The Files page's playback half, driven offscreen as a user drives it: the marker button, its
// timer, the part bar, clicks in the bar, removing the file being marked and the error box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>

#include "app/QtUi.h"
#include "app/WizPage2_Files.h"
#include "pipeline/job.h"
#include "pipeline/settings.h"
#include "qt_wizard_fixture.h"
#include "scripted_player.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::wizard;
using tolvane::test::ScriptedPlayer;

namespace {

enum class Colour { Red, Blue, Other };

Colour colourOf(QRgb pixel) {
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    if (r > 150 && g < 100 && b < 100)
        return Colour::Red;
    if (b > 200 && r < 150)
        return Colour::Blue;
    return Colour::Other;
}

class MarkerPageTest : public wizard::test::WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        if (!tolvane::test::haveTool("sox"))
            GTEST_SKIP() << "sox is needed to make the test sounds";
    }

    // Opens the Files page with these files (made by sox: mono 8 kHz tones).
    void openFilesPage(const std::vector<std::pair<std::string, double>>& tones) {
        QStringList paths;
        for (const auto& [name, seconds] : tones) {
            const std::string path = music_.file(name);
            ASSERT_TRUE(tolvane::test::makeTone(path, 8000, 1, 16, seconds));
            paths << QString::fromStdString(path);
        }
        start();
        clickNext();
        files_ = page<WizPage2_Files>(kFiles);
        ASSERT_NE(files_, nullptr);
        addFiles(paths);  // waits until the files are in the list
    }
    void useScriptedPlayer() {
        files_->setMarkerPlayer([this]() -> pages::MarkerPlayer& { return player_; });
    }
    void selectOnly(int row) {
        files_->list()->clearSelection();
        files_->list()->topLevelItem(row)->setSelected(true);
    }
    void pressMark() { QTest::mouseClick(files_->markButton(), Qt::LeftButton); }
    QString markText() { return files_->markButton()->text(); }
    bool wizardButtonsEnabled() {
        return sheet().backButton()->isEnabled() && sheet().nextButton()->isEnabled();
    }
    bool wizardButtonsDisabled() {
        return !sheet().backButton()->isEnabled() && !sheet().nextButton()->isEnabled();
    }

    // The part bar of `row` as drawn: the cell, the bar's middle line and second -> x.
    struct Bar {
        QImage image;
        QRect cell;
        int firstLine = 0;
        int innerLeft = 0;
        int innerRight = 0;
        int duration = 1;
        int x(int second) const { return innerLeft + second * (innerRight - innerLeft) / duration; }
        Colour at(int x) const { return colourOf(image.pixel(x, firstLine + 3)); }
    };
    Bar bar(int row) {
        QTreeWidget* list = files_->list();
        list->viewport()->repaint();
        Bar b;
        b.image = list->viewport()->grab().toImage();
        b.cell = list->visualRect(list->model()->index(row, 1));
        const int top = b.cell.top() + (b.cell.height() - 12) / 2 - 1;
        b.firstLine = top + 3;
        b.innerLeft = b.cell.left() + 6;
        b.innerRight = b.cell.left() + b.cell.width() - 5;
        b.duration = fileList().entries()[static_cast<std::size_t>(row)].duration;
        return b;
    }

    tolvane::test::TempDir music_;
    WizPage2_Files* files_ = nullptr;
    ScriptedPlayer player_;
};

TEST_F(MarkerPageTest, StartAt12AndEndAt17GivePart12Plus6DrawnInRed) {
    openFilesPage({{"song.wav", 30}});
    useScriptedPlayer();
    EXPECT_FALSE(files_->markButton()->isEnabled()) << "no row selected";
    selectOnly(0);
    ASSERT_TRUE(files_->markButton()->isEnabled());

    pressMark();
    EXPECT_EQ(markText(), "&Mark start");
    EXPECT_EQ(player_.opened, music_.file("song.wav"));
    EXPECT_TRUE(wizardButtonsDisabled()) << "the page cannot be left while a file plays";
    files_->list()->clearSelection();
    EXPECT_TRUE(files_->markButton()->isEnabled()) << "marking goes on without a selection";

    player_.at = 12;
    pressMark();
    EXPECT_EQ(markText(), "&Mark end");
    player_.at = 17;
    {
        // While waiting for the end, the part grows to the playing second and the position
        // picture stands over it.
        const Bar b = bar(0);
        EXPECT_EQ(b.at(b.x(12) - 3), Colour::Blue);
        EXPECT_EQ(b.at(b.x(12) + 3), Colour::Red);
        EXPECT_EQ(b.at(b.x(18) - 2), Colour::Red);
        EXPECT_EQ(b.at(b.x(18) + 2), Colour::Blue);
        const QRgb withPicture = b.image.pixel(b.x(17), b.firstLine - 1);
        pressMark();
        const Bar after = bar(0);
        EXPECT_NE(after.image.pixel(b.x(17), b.firstLine - 1), withPicture);
    }
    EXPECT_EQ(markText(), "&Mark a part");
    const FileEntry& entry = fileList().entries()[0];
    EXPECT_TRUE(entry.partMarked);
    EXPECT_EQ(entry.partStart, 12u);
    EXPECT_EQ(entry.partLength, 6u);
    EXPECT_EQ(player_.stops, 1);
    EXPECT_TRUE(wizardButtonsEnabled());

    const Bar b = bar(0);
    EXPECT_EQ(b.at(b.x(12) - 3), Colour::Blue);
    EXPECT_EQ(b.at(b.x(12) + 3), Colour::Red);
    EXPECT_EQ(b.at(b.x(18) - 3), Colour::Red);
    EXPECT_EQ(b.at(b.x(18) + 3), Colour::Blue);
}

// Without a mouse: Alt+M starts and marks (the button keeps its access key through its
// states), Space on the focused button marks, and Space in the list marks while a file plays.
TEST_F(MarkerPageTest, KeyboardUsersMarkWithAltMAndSpace) {
    openFilesPage({{"song.wav", 30}});
    useScriptedPlayer();
    sheet().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet()));
    const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    };
    const auto waitForText = [&](const QString& text) {
        return waitFor([&] { return markText() == text; }, 2000);
    };
    files_->list()->setFocus();
    files_->list()->setCurrentItem(files_->list()->topLevelItem(0));

    press(Qt::Key_M, Qt::AltModifier);
    ASSERT_TRUE(waitForText("&Mark start"));
    EXPECT_EQ(QApplication::focusWidget(), files_->markButton()) << "Space would miss it";
    player_.at = 4;
    press(Qt::Key_Space);
    ASSERT_TRUE(waitForText("&Mark end"));
    player_.at = 9;
    press(Qt::Key_M, Qt::AltModifier);
    ASSERT_TRUE(waitForText("&Mark a part"));
    EXPECT_EQ(fileList().entries()[0].partStart, 4u);
    EXPECT_EQ(fileList().entries()[0].partLength, 6u);

    // Back in the list, Space marks while the file plays and selects otherwise.
    files_->list()->setFocus();
    press(Qt::Key_M, Qt::AltModifier);
    ASSERT_TRUE(waitForText("&Mark start"));
    files_->list()->setFocus();
    player_.at = 2;
    press(Qt::Key_Space);
    ASSERT_EQ(markText(), "&Mark end");
    player_.at = 3;
    press(Qt::Key_Space);
    ASSERT_EQ(markText(), "&Mark a part");
    EXPECT_EQ(fileList().entries()[0].partStart, 2u);
    EXPECT_EQ(fileList().entries()[0].partLength, 2u);
}

// The position picture follows the moment heard between whole seconds: it moves at 12.5 s
// although the second being played is still 12.
TEST_F(MarkerPageTest, ThePositionPictureMovesSmoothly) {
    openFilesPage({{"song.wav", 30}});
    useScriptedPlayer();
    selectOnly(0);
    pressMark();
    player_.at = 12;
    player_.atMs = 12000;
    const Bar early = bar(0);
    player_.atMs = 12500;
    const Bar later = bar(0);
    int firstChange = -1;
    int lastChange = -1;
    for (int x = early.cell.left(); x < early.cell.right(); ++x)
        for (int y = early.firstLine - 3; y < early.firstLine + 9; ++y)
            if (early.image.pixel(x, y) != later.image.pixel(x, y)) {
                firstChange = firstChange < 0 ? x : firstChange;
                lastChange = x;
            }
    ASSERT_GE(firstChange, 0) << "the picture did not move within the second";
    EXPECT_GE(firstChange, early.x(12) - 10);
    EXPECT_LE(lastChange, early.x(13) + 10);
    pressMark();
    pressMark();
}

TEST_F(MarkerPageTest, TheMarkedPartIsWhatTheConversionTakes) {
    tolvane::test::TempDir out;
    {
        Settings settings;
        settings.load();
        settings.setSave(1);
        settings.setSend(0);
        settings.setFolder(out.path().string());
        settings.setFormat(0);  // WAV, medium quality
    }
    openFilesPage({{"song.wav", 30}});
    useScriptedPlayer();
    selectOnly(0);
    pressMark();
    player_.at = 12;
    pressMark();
    player_.at = 17;
    pressMark();
    clickNext();
    clickNext();
    clickNext();
    ASSERT_EQ(activeId(), kProgress);
    ASSERT_TRUE(waitFor([&] { return activeId() != kProgress; }));
    EXPECT_EQ(activeId(), kSuccess);
    const std::string ringtone = out.file("song.wav");
    ASSERT_TRUE(std::filesystem::exists(ringtone));
    EXPECT_NEAR(std::stod(tolvane::test::probe(ringtone, "duration")), 6.0, 0.05);
}

TEST_F(MarkerPageTest, AClickInThePlayingBarSeeks) {
    openFilesPage({{"first.wav", 30}, {"second.wav", 30}});
    useScriptedPlayer();
    selectOnly(1);
    pressMark();
    Bar b = bar(1);
    QTest::mouseClick(files_->list()->viewport(), Qt::LeftButton, {},
                      QPoint(b.x(20), b.cell.center().y()));
    ASSERT_EQ(player_.seeks.size(), 1u);
    EXPECT_NEAR(player_.seeks[0], 20, 1);
    // Clicks on another row or in the name column do not seek.
    Bar other = bar(0);
    QTest::mouseClick(files_->list()->viewport(), Qt::LeftButton, {},
                      QPoint(other.x(20), other.cell.center().y()));
    QTest::mouseClick(files_->list()->viewport(), Qt::LeftButton, {},
                      QPoint(10, b.cell.center().y()));
    EXPECT_EQ(player_.seeks.size(), 1u);
    pressMark();
    pressMark();
}

TEST_F(MarkerPageTest, RemovingTheFileBeingMarkedStopsAndGivesTheButtonsBack) {
    openFilesPage({{"first.wav", 10}, {"second.wav", 10}});
    useScriptedPlayer();
    selectOnly(0);
    pressMark();
    player_.at = 3;
    pressMark();
    ASSERT_EQ(markText(), "&Mark end");
    player_.at = 5;
    selectOnly(0);
    QTest::mouseClick(files_->removeButton(), Qt::LeftButton);
    EXPECT_EQ(files_->list()->topLevelItemCount(), 1);
    ASSERT_EQ(fileList().size(), 1u);
    EXPECT_EQ(fileList().entries()[0].path, music_.file("second.wav"));
    EXPECT_FALSE(player_.running);
    EXPECT_EQ(markText(), "&Mark a part");
    EXPECT_TRUE(wizardButtonsEnabled());
    EXPECT_FALSE(files_->markButton()->isEnabled()) << "no row is selected any more";
}

TEST_F(MarkerPageTest, AFileThatCannotBeOpenedShowsItsErrorAndStaysIdle) {
    openFilesPage({{"song.wav", 3}});
    useScriptedPlayer();
    player_.openFailure = "cannot open file";
    selectOnly(0);
    std::string text;
    answerNextBox(&text);
    pressMark();
    EXPECT_EQ(text, "song.wav: cannot open file.\n");
    EXPECT_EQ(markText(), "&Mark a part");
    EXPECT_TRUE(wizardButtonsEnabled());
}

// The real preview player on SDL's dummy driver: playback runs out in each state.
TEST_F(MarkerPageTest, PlaybackRunningOutEndsTheMarkingInEachState) {
    openFilesPage({{"short.wav", 2.5}});
    selectOnly(0);

    pressMark();
    ASSERT_EQ(markText(), "&Mark start");
    ASSERT_TRUE(waitFor([&] { return files_->marker().idle(); }, 6000));
    EXPECT_EQ(markText(), "&Mark a part");
    EXPECT_FALSE(fileList().entries()[0].partMarked)
        << "running out before the start marks nothing";
    EXPECT_TRUE(wizardButtonsEnabled());

    pressMark();
    pressMark();  // the start, at once
    ASSERT_EQ(markText(), "&Mark end");
    const std::uint32_t start = fileList().entries()[0].partStart;
    ASSERT_TRUE(waitFor([&] { return files_->marker().idle(); }, 6000));
    EXPECT_EQ(markText(), "&Mark a part");
    const FileEntry& entry = fileList().entries()[0];
    EXPECT_TRUE(entry.partMarked);
    EXPECT_EQ(entry.partStart, start);
    EXPECT_EQ(entry.partStart + entry.partLength - 1, 2u) << "the end is the last second reached";
    EXPECT_TRUE(wizardButtonsEnabled());
}

}  // namespace
