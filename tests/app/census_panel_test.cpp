// The census part of the program page without a worker: the census button hands over its
// speeds and posts 29, the list shows what the worker found, a chosen row becomes the
// working speed and address, and "Изменить адрес" hands over the move and posts 30.
#include "window_rig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace vq31::app::test {
namespace {

CensusView TwoSensorsAndACollision() {
    CensusView v;
    v.rows = {{1, 19200, "004711", "31", "0.90", "найден", false},
              {3, 9600, "004712", "31", "0.90", "найден", false},
              {7, 19200, "", "", "", "два или более датчика на одном адресе", true}};
    v.summary = "Найдено датчиков: 2, коллизий: 1 за 1.0 с";
    return v;
}

TEST(CensusPanel, TheButtonAsksTheWorkingSpeedOrAllSpeeds) {
    WindowRig rig("[UART]\nBAUD=9600\n");
    rig.w().BtnCensusClick();
    rig.w().ChkCensusAllSpeeds->setChecked(true);
    rig.w().BtnCensusClick();
    EXPECT_EQ(rig.posts, (std::vector<int>{29, 29}));
    ASSERT_EQ(rig.censusRequests.size(), 2u);
    EXPECT_EQ(rig.censusRequests[0].speeds, (std::vector<uint32_t>{9600}));
    EXPECT_EQ(rig.censusRequests[1].speeds.size(), 7u);
    EXPECT_EQ(rig.censusRequests[1].from, 0);
    EXPECT_EQ(rig.censusRequests[1].to, 254);
    EXPECT_FALSE(rig.w().BtnCensus->isEnabled());
    EXPECT_TRUE(rig.w().BtnCensusStop->isEnabled());
}

TEST(CensusPanel, TheListShowsTheRowsAndAChosenRowBecomesTheWorkingLink) {
    WindowRig rig;
    rig.w().ShowCensus(TwoSensorsAndACollision());
    QTableWidget& grid = *rig.w().GridCensus;
    ASSERT_EQ(grid.rowCount(), 3);
    EXPECT_EQ(grid.item(1, 0)->text(), "3");
    EXPECT_EQ(grid.item(1, 1)->text(), "9600");
    EXPECT_EQ(grid.item(1, 2)->text(), "004712");
    EXPECT_EQ(grid.horizontalHeaderItem(2)->text(), "Серийный номер");
    EXPECT_TRUE(rig.w().BtnCensus->isEnabled());
    EXPECT_EQ(rig.w().EditAddr->text(), "1"); // filling the list chooses nothing
    grid.setCurrentCell(1, 0);
    EXPECT_EQ(rig.w().CmbBaud->currentText(), "9600");
    EXPECT_EQ(rig.w().EditAddr->text(), "3");
    EXPECT_EQ(Get(rig.params.BaudRate), 9600);
    EXPECT_EQ(Get(rig.params.DeviceAddress), 3);
    // A collision row is no one sensor: the link stays as it was.
    grid.setCurrentCell(2, 0);
    EXPECT_EQ(rig.w().EditAddr->text(), "3");
    EXPECT_TRUE(rig.w().BtnReaddress->isEnabled());
}

TEST(CensusPanel, AMoveNeedsAnotherAddressWithinTheRange) {
    WindowRig rig;
    rig.w().ShowCensus(TwoSensorsAndACollision());
    rig.w().GridCensus->setCurrentCell(1, 0);
    for (const char* text : {"", "x", "255", "-1", "3"})
        rig.w().EditNewAddr->setText(text), rig.w().BtnReaddressClick();
    EXPECT_EQ(rig.boxes.shown.size(), 5u);
    EXPECT_TRUE(rig.posts.empty());
    rig.w().EditNewAddr->setText("5");
    rig.w().BtnReaddressClick();
    EXPECT_EQ(rig.posts, (std::vector<int>{30}));
    ASSERT_EQ(rig.readdressRequests.size(), 1u);
    EXPECT_EQ(rig.readdressRequests[0], std::make_tuple(3, 5, uint32_t(9600)));
}

} // namespace
} // namespace vq31::app::test
