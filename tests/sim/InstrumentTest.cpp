// The instrument's answers, byte by byte, and its physics and faults.
#include <gtest/gtest.h>

#include "SimTestBytes.h"
#include "sim/Instrument.h"

using simtest::At;
using simtest::Of;
using simtest::Request;

namespace {

class SimInstrument : public ::testing::Test {
  protected:
    SimInstrument() { source.SetNoise(false); }

    // The single answer to one request; empty when there is none.
    sim::Bytes Ask(const sim::Bytes& request) {
        const std::vector<sim::Exchange> exchanges = source.Receive(request.data(), request.size());
        EXPECT_EQ(exchanges.size(), 1u);
        return exchanges.empty() ? sim::Bytes{} : exchanges[0].out;
    }

    // Checks the frame envelope of a reply at address 1 and returns it.
    static void ExpectEnvelope(const sim::Bytes& reply, size_t total, const std::string& head) {
        ASSERT_EQ(reply.size(), total);
        EXPECT_EQ(reply[0], 0x7B);
        EXPECT_EQ(reply[1], total - 3);
        EXPECT_EQ(reply[2], 0x00);
        EXPECT_EQ(reply[3], 0x01);
        EXPECT_EQ(At(reply, 4, 4), head);
        EXPECT_EQ(reply[total - 2], simtest::SumOverLength(reply));
        EXPECT_EQ(reply[total - 1], 0x7D);
    }

    void Start() {
        const sim::Bytes ack = Ask(Request("CST*"));
        ASSERT_EQ(ack.size(), 13u);
        ASSERT_EQ(ack[8], '=');
    }

    sim::Instrument source;
};

TEST_F(SimInstrument, ModelReplyCarriesTheNameAndDigitsWhereTheProgramLooks) {
    const sim::Bytes reply = Ask(Of({0x7B, 0x07, 0x00, 0x01, 0x52, 0x4D, 0x4F, 0x2A, 0x20, 0x7D}));
    ExpectEnvelope(reply, 20, "RMO=");
    EXPECT_EQ(At(reply, 8, 8), "VX52300P");
    EXPECT_EQ(At(reply, 8, 2), "VX");
    for (size_t i = 10; i <= 12; ++i) {
        EXPECT_TRUE(reply[i] >= '0' && reply[i] <= '9') << "offset " << i;
    }
    EXPECT_EQ(At(reply, 12, 3), "300");

    source.SetModelName("VX52007");
    EXPECT_EQ(At(Ask(Request("RMO*")), 8, 8), "VX52007 ");
    source.SetModelName("VX5212345678");
    EXPECT_EQ(At(Ask(Request("RMO*")), 8, 8), "VX521234");
}

TEST_F(SimInstrument, StateQueryFollowsTheOutput) {
    const sim::Bytes stopped =
        Ask(Of({0x7B, 0x07, 0x00, 0x01, 0x52, 0x54, 0x45, 0x2A, 0x1D, 0x7D}));
    ExpectEnvelope(stopped, 13, "RTE=");
    EXPECT_EQ(stopped[8], '0');

    Start();
    EXPECT_EQ(Ask(Request("RTE*"))[8], '2');

    const sim::Bytes stop = Ask(Of({0x7B, 0x07, 0x00, 0x01, 0x43, 0x53, 0x50, 0x2A, 0x18, 0x7D}));
    ExpectEnvelope(stop, 13, "CSP=");
    EXPECT_EQ(stop[8], '=');
    EXPECT_EQ(Ask(Request("RTE*"))[8], '0');
    EXPECT_FALSE(source.Running());
}

TEST_F(SimInstrument, StartAcknowledgement) {
    const sim::Bytes ack = Ask(Of({0x7B, 0x07, 0x00, 0x01, 0x43, 0x53, 0x54, 0x2A, 0x1C, 0x7D}));
    ExpectEnvelope(ack, 13, "CST=");
    EXPECT_EQ(ack[8], '=');
    EXPECT_TRUE(source.Running());
}

TEST_F(SimInstrument, SettingsCommandIsStoredAndReadBack) {
    sim::Bytes sno = {0x7B, 0x1B, 0x00, 0x01};
    const std::string text = "SNO=2200,0500,05,05,0,1*";
    sno.insert(sno.end(), text.begin(), text.end());
    sno.push_back(0x03);
    sno.push_back(0x7D);
    const sim::Bytes ack = Ask(sno);
    ExpectEnvelope(ack, 13, "SNO=");
    EXPECT_EQ(ack[8], '=');

    ASSERT_EQ(Ask(Request("SNO=", "2345,0600,12,30,6,0*"))[8], '=');
    EXPECT_EQ(source.settings(), (sim::Settings{2345, 600, 12, 30, 6, 0}));

    const sim::Bytes rns = Ask(Request("RNS*"));
    ExpectEnvelope(rns, 32, "RNS=");
    EXPECT_EQ(At(rns, 8, 5), "234.5");
    EXPECT_EQ(At(rns, 14, 4), "60.0");
    EXPECT_EQ(At(rns, 19, 2), "12");
    EXPECT_EQ(At(rns, 22, 2), "30");
    EXPECT_EQ(At(rns, 25, 1), "6");
    EXPECT_EQ(At(rns, 27, 1), "0");
    for (size_t sep : {13u, 18u, 21u, 24u, 26u}) {
        EXPECT_EQ(rns[sep], ',') << "offset " << sep;
    }
}

TEST_F(SimInstrument, FrequenciesFrom100HzAreSentAsFourDigits) {
    ASSERT_EQ(Ask(Request("SNO=", "1000,4000,05,05,0,1*"))[8], '=');
    EXPECT_EQ(At(Ask(Request("RNS*")), 14, 4), "4000");
    ASSERT_EQ(Ask(Request("SNO=", "1000,0450,05,05,0,1*"))[8], '=');
    EXPECT_EQ(At(Ask(Request("RNS*")), 14, 4), "45.0");

    ASSERT_EQ(Ask(Request("SNO=", "1000,1200,05,05,0,1*"))[8], '=');
    Start();
    EXPECT_EQ(At(Ask(Request("RNT*")), 21, 4), "1200");
}

TEST_F(SimInstrument, SettingsItCannotProduceAreRefusedAndKept) {
    const sim::Settings before = source.settings();
    for (const char* data :
         {"3001,0500,05,05,0,1*", "2200,0449,05,05,0,1*", "2200,0700,05,05,0,1*",
          "2200,0500,05,05,0,2*", "22x0,0500,05,05,0,1*", "2200;0500,05,05,0,1*"}) {
        const sim::Bytes ack = Ask(Request("SNO=", data));
        ASSERT_EQ(ack.size(), 13u) << data;
        EXPECT_EQ(At(ack, 4, 4), "SNO=") << data;
        EXPECT_EQ(ack[8], '!') << data;
    }
    EXPECT_EQ(source.settings(), before);
}

TEST_F(SimInstrument, MeasurementFollowsTheSettingsAndTheLoad) {
    const sim::Bytes off = Ask(Request("RNT*"));
    ExpectEnvelope(off, 36, "RNT=");
    EXPECT_EQ(At(off, 8, 24), "000.0,0.0000,00.0,0000.0");

    source.SetLoad(100.0);
    Start();
    const sim::Bytes on = Ask(Request("RNT*"));
    ExpectEnvelope(on, 36, "RNT=");
    EXPECT_EQ(At(on, 8, 5), "220.0");
    EXPECT_EQ(At(on, 14, 6), "2.2000"); // point at offset 15
    EXPECT_EQ(At(on, 21, 4), "50.0");
    EXPECT_EQ(At(on, 26, 6), "0484.0"); // point at offset 30
    for (size_t sep : {13u, 20u, 25u}) {
        EXPECT_EQ(on[sep], ',') << "offset " << sep;
    }

    source.SetCurrentLimit(500);
    source.SetLoad(10.0, 0.5);
    EXPECT_EQ(At(Ask(Request("RNT*")), 14, 18), "22.000,50.0,2420.0"); // point at 16
    source.SetLoad(1.0);
    EXPECT_EQ(At(Ask(Request("RNT*")), 14, 6), "220.00"); // point at 17
    source.SetLoad(0.0);
    EXPECT_EQ(At(Ask(Request("RNT*")), 14, 6), "0.0000"); // nothing connected
}

TEST_F(SimInstrument, NoiseKeepsTheMeasurementNearTheSettings) {
    source.SetNoise(true);
    source.Seed(7);
    Start();
    bool varied = false;
    for (int i = 0; i < 50; ++i) {
        const sim::Measurement m = source.Measure();
        EXPECT_NEAR(m.volts, 220.0, 0.25);
        EXPECT_NEAR(m.hertz, 50.0, 0.1);
        EXPECT_NEAR(m.amps, m.volts / 100.0, 1e-9);
        varied = varied || m.volts != 220.0;
    }
    EXPECT_TRUE(varied);
}

TEST_F(SimInstrument, OvercurrentTripsTheAlarmUntilAStopCommand) {
    source.SetCurrentLimit(10.0);
    source.SetLoad(100.0); // 2.2 A
    Start();
    source.SetLoad(20.0); // 11 A
    EXPECT_FALSE(source.Running());
    const sim::Bytes state = Ask(Request("RTE*"));
    EXPECT_EQ(state[8], '4');
    EXPECT_EQ(At(Ask(Request("RNT*")), 8, 24), "000.0,0.0000,00.0,0000.0");

    const sim::Bytes refused = Ask(Request("CST*"));
    EXPECT_EQ(refused[8], '!');
    EXPECT_FALSE(source.Running());

    EXPECT_EQ(Ask(Request("CSP*"))[8], '=');
    EXPECT_EQ(Ask(Request("RTE*"))[8], '0');

    // Starting into the same load trips at once, although the start itself is taken.
    EXPECT_EQ(Ask(Request("CST*"))[8], '=');
    EXPECT_EQ(Ask(Request("RTE*"))[8], '4');

    // Raising the voltage of a running output past the limit trips it too.
    Ask(Request("CSP*"));
    source.SetLoad(25.0); // 8.8 A at 220 V, 12 A at 300 V
    Start();
    ASSERT_EQ(Ask(Request("SNO=", "3000,0500,05,05,0,1*"))[8], '=');
    EXPECT_EQ(Ask(Request("RTE*"))[8], '4');

    // The overload fault trips a running output whatever the load.
    Ask(Request("CSP*"));
    source.SetLoad(100.0);
    Start();
    source.TripOverload();
    EXPECT_FALSE(source.Running());
    EXPECT_EQ(Ask(Request("RTE*"))[8], '4');
}

TEST_F(SimInstrument, OtherAddressesAndUnknownRequestsGetNoAnswer) {
    source.SetAddress(7);
    std::vector<sim::Exchange> ex;
    const sim::Bytes forOne = Request("RTE*", "", 1);
    ex = source.Receive(forOne.data(), forOne.size());
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].kind, sim::Exchange::Kind::OtherAddress);
    EXPECT_TRUE(ex[0].out.empty());

    const sim::Bytes forSeven = Request("RTE*", "", 7);
    ex = source.Receive(forSeven.data(), forSeven.size());
    ASSERT_EQ(ex.size(), 1u);
    ASSERT_EQ(ex[0].out.size(), 13u);
    EXPECT_EQ(ex[0].out[3], 7);

    const sim::Bytes unknown = Request("XYZ*", "", 7);
    ex = source.Receive(unknown.data(), unknown.size());
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].kind, sim::Exchange::Kind::Unknown);
    EXPECT_TRUE(ex[0].out.empty());

    // A known request in the wrong shape is answered with a refusal.
    const sim::Bytes withData = Request("RTE=", "1*", 7);
    ex = source.Receive(withData.data(), withData.size());
    ASSERT_EQ(ex.size(), 1u);
    ASSERT_EQ(ex[0].out.size(), 13u);
    EXPECT_EQ(ex[0].out[8], '!');
}

TEST_F(SimInstrument, LineFaultsSpoilTheReplyInTheirOwnWay) {
    sim::Faults& f = source.faults();

    f.corrupt = true;
    sim::Bytes reply = Ask(Request("RTE*"));
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[11], (simtest::SumOverLength(reply) + 1) % 256);
    f.corrupt = false;

    f.wrongAddress = true;
    reply = Ask(Request("RTE*"));
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[3], 2);
    EXPECT_EQ(reply[11], simtest::SumOverLength(reply)); // only the address is wrong
    source.SetAddress(255);
    EXPECT_EQ(Ask(Request("RTE*", "", 255))[3], 1);
    source.SetAddress(1);
    f.wrongAddress = false;

    f.stray = true;
    reply = Ask(Request("RMO*"));
    ASSERT_EQ(reply.size(), 21u);
    EXPECT_NE(reply[0], 0x7B);
    EXPECT_EQ(sim::Bytes(reply.begin() + 1, reply.end()),
              sim::BuildFrame(1, "RMO", '=', "VX52300P01"));
    f.stray = false;

    f.silence = true;
    const sim::Bytes start = Request("CST*");
    const std::vector<sim::Exchange> ex = source.Receive(start.data(), start.size());
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].kind, sim::Exchange::Kind::Silenced);
    EXPECT_TRUE(ex[0].out.empty());
    EXPECT_FALSE(source.Running()); // a silent instrument did not hear the start either
}

TEST_F(SimInstrument, RefusalAnswersCommandsAndMeasurementsWithoutCarryingThemOut) {
    source.faults().refuse = true;
    for (const char* head : {"CST*", "CSP*", "RNT*"}) {
        const sim::Bytes reply = Ask(Request(head));
        ASSERT_EQ(reply.size(), 13u) << head;
        EXPECT_EQ(At(reply, 4, 3), std::string(head, 3));
        EXPECT_EQ(reply[7], '=');
        EXPECT_EQ(reply[8], '!') << head;
    }
    EXPECT_FALSE(source.Running());
    EXPECT_EQ(Ask(Request("SNO=", "1000,0600,05,05,0,1*"))[8], '!');
    EXPECT_EQ(source.settings().vol, 2200);
    // Queries that carry no acknowledgement are still answered.
    EXPECT_EQ(Ask(Request("RNS*")).size(), 32u);
    EXPECT_EQ(Ask(Request("RTE*"))[8], '0');
}

TEST_F(SimInstrument, ForcedStateIsReportedButChangesNothingElse) {
    source.faults().forcedState = '3';
    EXPECT_EQ(Ask(Request("RTE*"))[8], '3');
    EXPECT_EQ(source.RealState(), '0');
    source.faults().forcedState = 0;
    EXPECT_EQ(Ask(Request("RTE*"))[8], '0');
}

} // namespace
