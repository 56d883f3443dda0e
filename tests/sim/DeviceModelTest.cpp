// The device's command set, checked without a line: every command letter in good and bad
// forms, what each does to the model, and the strict device number check.
#include <gtest/gtest.h>

#include <string>

#include "DeviceModel.h"
#include "Json.h"

using pulsyn_sim::DeviceModel;
using pulsyn_sim::DeviceNumberProblem;
using pulsyn_sim::Quantity;

namespace {

std::string Cmd(DeviceModel& m, const std::string& cmd) { return m.Execute(cmd, 1.5).payload; }

}  // namespace

TEST(DeviceNumber, AcceptsExactlyTheThreeMantissaShapes) {
    for (const char* good : {"+25.00E-3", "-2.500E+0", "+400.0E-6", "+0.000E+0", "+2.147E+9", "-999.9E-9"})
        EXPECT_EQ(DeviceNumberProblem(good), std::nullopt) << good;
    struct Bad {
        const char* text;
        const char* reason;
    };
    for (const Bad& bad : {Bad{"+25.00E-30", "number length"}, Bad{"+25.0E-3", "number length"},
                           Bad{" 25.00E-3", "number sign"},   Bad{"25.000E-3", "number sign"},
                           Bad{"+2500.E-3", "mantissa"},      Bad{"+.2500E-3", "mantissa"},
                           Bad{"+25,00E-3", "mantissa"},      Bad{"+2.5.0E-3", "mantissa"},
                           Bad{"+25.0xE-3", "mantissa"},      Bad{"+25.00e-3", "exponent mark"},
                           Bad{"+25.00E 3", "exponent sign"}, Bad{"+25.00E-A", "exponent digit"},
                           Bad{"+25.00E3-", "exponent sign"}})
        EXPECT_EQ(DeviceNumberProblem(bad.text).value_or("(accepted)"), bad.reason) << bad.text;
    EXPECT_DOUBLE_EQ(pulsyn_sim::DeviceNumberValue("-400.0E-6"), -0.0004);
}

TEST(DeviceModel, ValueCommandsStoreTheTextAsReceived) {
    DeviceModel m;
    EXPECT_EQ(Cmd(m, "L1+25.00E-3"), "OK.");
    EXPECT_EQ(Cmd(m, "D3+400.0E-6"), "OK.");
    EXPECT_EQ(Cmd(m, "I9+1.000E+0"), "OK.");
    EXPECT_EQ(Cmd(m, "N4+12.35E+3"), "OK.");
    EXPECT_EQ(Cmd(m, "V4-2.500E+0"), "OK.");
    EXPECT_EQ(Cmd(m, "J5+50.00E-3"), "OK.");
    EXPECT_EQ(m.channel(1, 1).value(Quantity::Delay), "+25.00E-3");
    EXPECT_EQ(m.channel(1, 3).value(Quantity::Duration), "+400.0E-6");
    EXPECT_EQ(m.channel(1, 9).value(Quantity::Interval), "+1.000E+0");
    EXPECT_EQ(m.channel(1, 4).value(Quantity::Count), "+12.35E+3");
    EXPECT_EQ(m.channel(1, 4).value(Quantity::Voltage), "-2.500E+0");
    EXPECT_EQ(m.channel(1, 5).value(Quantity::Step), "+50.00E-3");
    EXPECT_EQ(m.channel(2, 1).value(Quantity::Delay), "+0.000E+0");  // other paradigms untouched

    const DeviceModel before = m;
    for (const char* bad : {"L0+25.00E-3", "LA+25.00E-3", "L1+25.00E-", "L1+25.00E-33", "L1 +25.00E-3",
                            "V4-2.50E+0X", "J5+50.00e-3", "l1+25.00E-3"}) {
        std::string reply = Cmd(m, bad);
        EXPECT_EQ(reply.rfind("ER:", 0), 0u) << bad << " -> " << reply;
    }
    EXPECT_EQ(m.paradigms, before.paradigms);  // a refused command changes nothing
    EXPECT_EQ(Cmd(m, "L0+25.00E-3"), "ER:bad channel");
    EXPECT_EQ(Cmd(m, "V1+2.5.0E+0"), "ER:bad number: mantissa");
}

TEST(DeviceModel, ParadigmSelectClearCopyAndRead) {
    DeviceModel m;
    EXPECT_EQ(Cmd(m, "GP"), "OK.1");
    EXPECT_EQ(Cmd(m, "Y3"), "OK.");
    EXPECT_EQ(Cmd(m, "GP"), "OK.3");
    for (const char* bad : {"Y0", "Y10", "Y", "YA"}) EXPECT_EQ(Cmd(m, bad).substr(0, 3), "ER:") << bad;
    EXPECT_EQ(Cmd(m, "G"), "ER:unknown command");
    EXPECT_EQ(Cmd(m, "GPX"), "ER:unknown command");
    EXPECT_EQ(m.selected, 3);

    Cmd(m, "V2+5.000E+0");
    Cmd(m, "X2B");
    EXPECT_EQ(Cmd(m, "C35"), "OK.");
    EXPECT_EQ(m.paradigms[4], m.paradigms[2]);
    EXPECT_EQ(m.selected, 3);  // copying does not select
    EXPECT_EQ(Cmd(m, "C33"), "ER:same paradigm");
    for (const char* bad : {"C30", "C3", "C345", "CA5"}) EXPECT_EQ(Cmd(m, bad).substr(0, 3), "ER:") << bad;

    EXPECT_EQ(Cmd(m, "E"), "OK.");  // clears the selected paradigm only
    EXPECT_EQ(m.paradigms[2], pulsyn_sim::ParadigmState{});
    EXPECT_EQ(m.channel(5, 2).value(Quantity::Voltage), "+5.000E+0");
    EXPECT_EQ(Cmd(m, "E1"), "ER:bad format");
}

TEST(DeviceModel, ModeShapeTriggerAndLinks) {
    DeviceModel m;
    const std::string modes = "OFNGCTW";
    for (size_t i = 0; i < modes.size(); ++i) {
        EXPECT_EQ(Cmd(m, std::string("M") + modes[i] + "5"), "OK.");
        EXPECT_EQ(m.channel(1, 5).mode, modes[i]);
    }
    EXPECT_EQ(Cmd(m, "MX5"), "ER:bad mode");
    EXPECT_EQ(Cmd(m, "MN0"), "ER:bad channel");
    EXPECT_EQ(Cmd(m, "M5N"), "ER:bad mode");  // letter and channel in the wrong order
    for (char shape : std::string("MBR")) {
        EXPECT_EQ(Cmd(m, std::string("S4") + shape), "OK.");
        EXPECT_EQ(m.channel(1, 4).shape, shape);
    }
    EXPECT_EQ(Cmd(m, "S4X"), "ER:bad shape");
    EXPECT_EQ(Cmd(m, "SR4"), "ER:bad channel");

    auto outcome = m.Execute("T4", 2.25);
    EXPECT_EQ(outcome.payload, "OK.");
    ASSERT_EQ(m.triggers.size(), 1u);
    EXPECT_EQ(m.triggers[0].channel, 4);
    EXPECT_EQ(m.triggers[0].paradigm, 1);
    EXPECT_EQ(m.triggers[0].t, 2.25);
    EXPECT_EQ(Cmd(m, "T0"), "ER:bad channel");
    EXPECT_EQ(Cmd(m, "TA"), "ER:bad channel");
    EXPECT_EQ(m.triggers.size(), 1u);

    // First channel 1..9, second 1..C in upper-case hexadecimal, never the same.
    EXPECT_EQ(Cmd(m, "X9B"), "OK.");
    EXPECT_EQ(Cmd(m, "X3C"), "OK.");
    EXPECT_EQ(Cmd(m, "XA3"), "ER:bad first channel");
    EXPECT_EQ(Cmd(m, "X3D"), "ER:bad second channel");
    EXPECT_EQ(Cmd(m, "X30"), "ER:bad second channel");
    EXPECT_EQ(Cmd(m, "X3c"), "ER:bad second channel");
    EXPECT_EQ(Cmd(m, "X44"), "ER:same channel");
    EXPECT_EQ(Cmd(m, "Z9A"), "OK.");
    EXPECT_EQ(Cmd(m, "Z3C"), "OK.");
    EXPECT_EQ(m.current().links, (std::set<std::pair<int, int>>{{9, 11}}));
}

TEST(DeviceModel, LimitsRefuseWellFormedValuesAboveThem) {
    DeviceModel m;
    m.limits[Quantity::Voltage] = 10;
    EXPECT_EQ(Cmd(m, "V1+10.00E+0"), "OK.");
    EXPECT_EQ(Cmd(m, "V1-10.00E+0"), "OK.");
    EXPECT_EQ(Cmd(m, "V1+10.01E+0"), "ER:over limit");
    EXPECT_EQ(Cmd(m, "V1-10.01E+0"), "ER:over limit");
    EXPECT_EQ(m.channel(1, 1).value(Quantity::Voltage), "-10.00E+0");
    EXPECT_EQ(Cmd(m, "J1+20.00E+0"), "OK.");  // other quantities are not limited
}

TEST(DeviceModel, UnknownAndMalformedCommandsAreRefusedWithAReasonNotStartingWithO) {
    DeviceModel m;
    for (const char* bad : {"", "Q", "OK.", "y3", "Y3 ", "T44", "MNN5", "S44R"}) {
        std::string reply = Cmd(m, bad);
        EXPECT_EQ(reply.rfind("ER:", 0), 0u) << "'" << bad << "' -> " << reply;
        EXPECT_GT(reply.size(), 3u);
    }
}

TEST(DeviceModel, StateJsonHasEveryParadigmAndChannel) {
    DeviceModel m;
    Cmd(m, "Y2");
    Cmd(m, "V4-2.500E+0");
    Cmd(m, "X9B");
    m.Execute("T4", 0.5);
    auto state = pulsyn_sim::json::Parse(m.Json());
    ASSERT_TRUE(state);
    EXPECT_EQ((*state)["paradigm"].get<double>(), 2);
    ASSERT_EQ((*state)["paradigms"].size(), 9u);
    const auto& p2 = (*state)["paradigms"][1];
    EXPECT_EQ(p2["number"].get<double>(), 2);
    ASSERT_EQ(p2["channels"].size(), 9u);
    EXPECT_EQ(p2["channels"][3]["voltage"].get<std::string>(), "-2.500E+0");
    EXPECT_EQ(p2["channels"][3]["mode"].get<std::string>(), "O");
    EXPECT_EQ(p2["links"][0][0].get<double>(), 9);
    EXPECT_EQ(p2["links"][0][1].get<double>(), 11);
    EXPECT_EQ((*state)["triggers"][0]["channel"].get<double>(), 4);
    EXPECT_EQ((*state)["triggers"][0]["paradigm"].get<double>(), 2);
}
