#include "host/dpu/twr_snoop_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "base/device_time.h"
#include "base/geometry.h"
#include "base/serial_number.h"
#include "config/flat_settings_interface.h"
#include "config/node_settings.h"
#include "config/settings.h"
#include "host/devices/dw_node.h"
#include "host/devices/node_manager.h"
#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"

namespace {

constexpr double kTickSeconds = 1.0 / kDeviceTicksPerSecond;  // 15.650040064102565 ps
constexpr int kInitialMessages = 3;
// A message list that reaches this many loses its oldest.
constexpr int kMessagesDropAt = 6;
constexpr int32_t kDefaultSnoopAntennaDelay = 16442;
// The receiver constant of the receive-power estimates, whatever the PRF.
constexpr double kReceiverConstantDb = 115.72;
constexpr double kWorstSignalQualityDiff = 60.0;
constexpr uint16_t kMasterNetworkId = 1;
// Two snoops whose directions from the responder differ by less than about
// 3 degrees count as on one line with it: the trilateration then divides by
// the small sine of that angle and its errors grow past use.
constexpr double kCollinearSine = 0.05;
// Scores of the two mirror images of a 3-D solution closer than this (metres)
// do not tell them apart.
constexpr double kMirrorScoreTie = 1e-3;

constexpr int64_t kWrap = static_cast<int64_t>(kDeviceTimeWrap);

bool IsComplete(const SNOOP_DATA_T& at_a, const SNOOP_DATA_T& at_b) {
    return at_a.timestamp >= 0 && at_b.timestamp >= 0 && at_a.transmitted != at_b.transmitted;
}

bool IsEmpty(const SNOOP_DATA_T& message) {
    return message.timestamp < 0 && message.listeners.isEmpty();
}

// Empty messages at the end until each list holds the initial three.
void PadMessages(TWR_DATA_T* pair) {
    while (pair->messages_at_a.size() < kInitialMessages) {
        pair->messages_at_a.append(SNOOP_DATA_T());
        pair->messages_at_b.append(SNOOP_DATA_T());
    }
}

void ResetMessages(TWR_DATA_T* pair) {
    pair->messages_at_a.clear();
    pair->messages_at_b.clear();
    PadMessages(pair);
    pair->messages = 0;
}

int CountComplete(const TWR_DATA_T* pair) {
    int complete = 0;
    for (int i = 0; i < pair->messages_at_a.size(); ++i) {
        if (IsComplete(pair->messages_at_a[i], pair->messages_at_b[i])) {
            ++complete;
        }
    }
    return complete;
}

// Whether a report of A or B entered anything in the message: each such
// entry carries the reporter's serial number, a snoop's entry the snoop's.
bool TakenFromThePair(const TWR_DATA_T* pair, int index) {
    for (const SNOOP_DATA_T* entry : {&pair->messages_at_a[index], &pair->messages_at_b[index]}) {
        if (entry->serial_number == pair->serial_a || entry->serial_number == pair->serial_b) {
            return true;
        }
    }
    return false;
}

// A new exchange: every message a report of A or B entered goes, so the
// messages of an earlier exchange are never taken for this one's. Messages
// that only snoops have heard so far stay: a snoop's report may come before
// the pair's own reports of the same exchange, and a message is found by its
// transmitter's time of sending, which no other packet carries within the
// 17 s turn of the 40-bit clock.
void RestartExchange(TWR_DATA_T* pair) {
    for (int i = pair->messages_at_a.size() - 1; i >= 0; --i) {
        if (TakenFromThePair(pair, i) ||
            (IsEmpty(pair->messages_at_a[i]) && IsEmpty(pair->messages_at_b[i]))) {
            pair->messages_at_a.removeAt(i);
            pair->messages_at_b.removeAt(i);
        }
    }
    PadMessages(pair);
    pair->messages = 0;
}

// A report of A or B whose counter is neither the pair's last counter nor the
// last plus the step begins a new exchange; either way its counter becomes
// the pair's last, so reports at successive steps (10, 11, 12 with step 1)
// stay in one exchange. Snoops' reports neither restart an exchange nor move
// the counter. The sum wraps instead of overflowing.
void FollowCounter(TWR_DATA_T* pair, long counter, uint32_t step) {
    const auto next = static_cast<int64_t>(static_cast<uint64_t>(pair->exchange_counter) + step);
    if (counter != pair->exchange_counter && counter != next) {
        RestartExchange(pair);
    }
    pair->exchange_counter = counter;
}

// The message sent at txTime by A (transmitterIsA) or B: found by that time
// in the transmitter's list, else the first empty message, else a new one at
// the end of both lists. A list that reaches six messages loses its oldest,
// so at most five are kept.
int FindOrCreateMessage(TWR_DATA_T* pair, bool transmitterIsA, int64_t txTime) {
    const QList<SNOOP_DATA_T>& sent = transmitterIsA ? pair->messages_at_a : pair->messages_at_b;
    for (int i = 0; i < sent.size(); ++i) {
        if (sent[i].transmitted && sent[i].timestamp == txTime) {
            return i;
        }
    }
    for (int i = 0; i < sent.size(); ++i) {
        if (IsEmpty(pair->messages_at_a[i]) && IsEmpty(pair->messages_at_b[i])) {
            return i;
        }
    }
    pair->messages_at_a.append(SNOOP_DATA_T());
    pair->messages_at_b.append(SNOOP_DATA_T());
    while (pair->messages_at_a.size() >= kMessagesDropAt) {
        pair->messages_at_a.removeFirst();
        pair->messages_at_b.removeFirst();
    }
    return pair->messages_at_a.size() - 1;
}

void EnterTransmission(SNOOP_DATA_T& message, int64_t txTime, uint32_t timedBy) {
    message.timestamp = txTime;
    message.transmitted = true;
    message.serial_number = timedBy;
}

// A device time with an antenna delay applied, back on the 40-bit clock.
int64_t Shifted(int64_t time, int64_t delay) {
    return static_cast<int64_t>(DeviceTimeMask(static_cast<uint64_t>(time + delay)));
}

// The six times of one exchange at the antennas, unwrapped so that each
// device's three are increasing: P, Q, F at the initiator (poll sent,
// response received, final sent), R, S, T at the responder (poll received,
// response sent, final received).
struct ExchangeTimes {
    int64_t P, Q, F, R, S, T;
};

struct Roles {
    const QList<SNOOP_DATA_T>* initiator;
    const QList<SNOOP_DATA_T>* responder;
    int32_t initiator_delay;
    int32_t responder_delay;
    uint32_t responder_serial;
};

Roles RolesOf(const TWR_DATA_T* pair, const TwrSnoopEngine::Exchange& exchange) {
    if (exchange.a_initiates) {
        return Roles{&pair->messages_at_a, &pair->messages_at_b, pair->antenna_delay_a, pair->antenna_delay_b,
                     pair->serial_b};
    }
    return Roles{&pair->messages_at_b, &pair->messages_at_a, pair->antenna_delay_b, pair->antenna_delay_a,
                 pair->serial_a};
}

ExchangeTimes TimesOf(const TWR_DATA_T* pair, const TwrSnoopEngine::Exchange& exchange) {
    const Roles roles = RolesOf(pair, exchange);
    const QList<SNOOP_DATA_T>& initiator = *roles.initiator;
    const QList<SNOOP_DATA_T>& responder = *roles.responder;
    // 64 bits, so that negating the lowest 32-bit delay stays defined.
    const int64_t dI = roles.initiator_delay;
    const int64_t dR = roles.responder_delay;
    ExchangeTimes t;
    t.P = Shifted(initiator[exchange.message[0]].timestamp, dI);
    t.Q = Shifted(initiator[exchange.message[1]].timestamp, -dI);
    t.F = Shifted(initiator[exchange.message[2]].timestamp, dI);
    t.R = Shifted(responder[exchange.message[0]].timestamp, -dR);
    t.S = Shifted(responder[exchange.message[1]].timestamp, dR);
    t.T = Shifted(responder[exchange.message[2]].timestamp, -dR);
    TwrSnoopEngine::HandleClockRollover(t.P, t.Q, t.F);
    TwrSnoopEngine::HandleClockRollover(t.R, t.S, t.T);
    return t;
}

// The snoops that heard all three messages, in serial-number order.
QList<uint32_t> SnoopsWithAllThree(const TWR_DATA_T* pair, const TwrSnoopEngine::Exchange& exchange) {
    QList<uint32_t> snoops;
    const QList<uint32_t> first = pair->messages_at_a[exchange.message[0]].listeners.keys();
    for (uint32_t snoop : first) {
        if (TwrSnoopEngine::DeviceHasSufficientSnoopsForDistance(pair, exchange, snoop)) {
            snoops.append(snoop);
        }
    }
    return snoops;
}

// At least `minimum` snoops heard each message and at least `minimum` heard
// all three; only an exchange that A initiated has its snoops' receptions of
// messages 1 and 3 in the messages at A.
bool HasSnoops(TWR_DATA_T* pair, int minimum) {
    TwrSnoopEngine::Exchange exchange;
    if (!TwrSnoopEngine::CanCalculateTWR(pair) || !TwrSnoopEngine::FindExchange(pair, &exchange) ||
        !exchange.a_initiates) {
        return false;
    }
    if (pair->messages_at_a[exchange.message[0]].listeners.size() < minimum ||
        pair->messages_at_b[exchange.message[1]].listeners.size() < minimum ||
        pair->messages_at_a[exchange.message[2]].listeners.size() < minimum) {
        return false;
    }
    return SnoopsWithAllThree(pair, exchange).size() >= minimum;
}

Coordinates ToCoordinates(QVector3D v) {
    return Coordinates(v.x(), v.y(), v.z());
}

double Dot(const Coordinates& a, const Coordinates& b) {
    return a.GetX() * b.GetX() + a.GetY() * b.GetY() + a.GetZ() * b.GetZ();
}

Coordinates Cross(const Coordinates& a, const Coordinates& b) {
    return Coordinates(a.GetY() * b.GetZ() - a.GetZ() * b.GetY(), a.GetZ() * b.GetX() - a.GetX() * b.GetZ(),
                       a.GetX() * b.GetY() - a.GetY() * b.GetX());
}

double Norm(const Coordinates& a) {
    return std::sqrt(Dot(a, a));
}

// Three-sphere trilateration around the responder B with the snoops N1 and
// N2: the point at distance d from B, r1 from N1 and r2 from N2 on the side
// of ez = ex x ey.
Coordinates Trilaterate(const Coordinates& B, const Coordinates& N1, const Coordinates& N2, double d,
                        double r1, double r2) {
    const Coordinates to1 = N1 - B;
    const Coordinates to2 = N2 - B;
    const double D = Norm(to1);
    const Coordinates ex = to1 * (1.0 / D);
    const double i = Dot(ex, to2);
    const Coordinates across = to2 - ex * i;
    const Coordinates ey = across * (1.0 / Norm(across));
    const Coordinates ez = Cross(ex, ey);
    const double j = Dot(ey, to2);
    const double x = (d * d - r1 * r1 + D * D) / (2.0 * D);
    const double y = (d * d - r2 * r2 + i * i + j * j) / (2.0 * j) - (i / j) * x;
    const double z = std::sqrt(std::max(d * d - x * x - y * y, 0.0));
    return B + ex * x + ey * y + ez * z;
}

int32_t ToMillimetres(double metres) {
    const double millimetres = std::trunc((metres + 0.0005) * 1000.0);
    if (millimetres >= 2147483647.0) {
        return std::numeric_limits<int32_t>::max();
    }
    if (millimetres <= -2147483648.0) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(millimetres);
}

bool IsFinite(QVector3D v) {
    return std::isfinite(v.x()) && std::isfinite(v.y()) && std::isfinite(v.z());
}

double PowerDb(double numerator, uint16_t accumulation_count) {
    const double n = accumulation_count;
    if (numerator <= 0.0 || n <= 0.0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return 10.0 * std::log10(numerator / (n * n)) - kReceiverConstantDb;
}

}  // namespace

TwrSnoopEngine* TwrSnoopEngine::Instance() {
    static TwrSnoopEngine instance(nullptr);
    return &instance;
}

TwrSnoopEngine::TwrSnoopEngine(QObject* parent) : QObject(parent) {}

TwrSnoopEngine::~TwrSnoopEngine() {
    Clear();
}

void TwrSnoopEngine::SetNodeManager(std::shared_ptr<const NodeManager> registry) {
    if (!registry) {
        node_lookup_ = nullptr;
        network_id_lookup_ = nullptr;
        return;
    }
    node_lookup_ = [registry](uint32_t serial, twr_node_info_t* info) {
        const std::shared_ptr<DwNode> node = registry->FindNodeBySerialNumber(serial);
        if (!node || node->IsNullNode()) {
            return false;
        }
        info->position = QVector3D(static_cast<float>(node->GetX()), static_cast<float>(node->GetY()),
                                   static_cast<float>(node->GetZ()));
        // Delays are a few ten thousand ticks; a configured value past the
        // signed range is held at its top rather than turned negative.
        const uint32_t delay = node->GetAntennaDelay();
        info->has_antenna_delay = true;
        info->antenna_delay = delay > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())
                                  ? std::numeric_limits<int32_t>::max()
                                  : static_cast<int32_t>(delay);
        return true;
    };
    network_id_lookup_ = [registry](uint16_t id) { return registry->GetNodeSerialNumberFromId(id); };
}

void TwrSnoopEngine::SetMaxBounds(QVector3D bounds) {
    max_bounds_ = bounds;
    has_max_bounds_ = true;
}

void TwrSnoopEngine::SetMinBounds(QVector3D bounds) {
    min_bounds_ = bounds;
    has_min_bounds_ = true;
}

TWR_DATA_T* TwrSnoopEngine::FindPair(uint32_t serialA, uint32_t serialB) const {
    for (TWR_DATA_T* pair : pairs_) {
        if ((pair->serial_a == serialA && pair->serial_b == serialB) ||
            (pair->serial_a == serialB && pair->serial_b == serialA)) {
            return pair;
        }
    }
    return nullptr;
}

TWR_DATA_T* TwrSnoopEngine::AddPair(uint32_t serialA, int delayA, uint32_t serialB, int delayB,
                                    bool snoopPair) {
    if (serialA == serialB || !SerialNumber_IsValid(serialA) || !SerialNumber_IsValid(serialB)) {
        return nullptr;
    }
    TWR_DATA_T* pair = FindPair(serialA, serialB);
    if (pair != nullptr) {
        return pair;
    }
    pair = new TWR_DATA_T;
    pair->serial_a = serialA;
    pair->antenna_delay_a = delayA;
    pair->serial_b = serialB;
    pair->antenna_delay_b = delayB;
    pair->snoop_pair = snoopPair;
    ResetMessages(pair);
    pairs_.append(pair);
    return pair;
}

void TwrSnoopEngine::AddTwrDevices(uint32_t serialA, int delayA, uint32_t serialB, int delayB) {
    AddPair(serialA, delayA, serialB, delayB, false);
}

void TwrSnoopEngine::AddTwrSnoopDevices(uint32_t serialA, int delayA, uint32_t serialB, int delayB) {
    TWR_DATA_T* pair = AddPair(serialA, delayA, serialB, delayB, true);
    if (pair != nullptr) {
        pair->snoop_pair = true;
    }
}

void TwrSnoopEngine::Clear() {
    qDeleteAll(pairs_);
    pairs_.clear();
}

void TwrSnoopEngine::AddData(const derazud_usb_anchor_rpt_t* report, long counter, uint32_t step) {
    if (report == nullptr) {
        return;
    }
    derazud_usb_anchor_rpt_t own = *report;
    DerazudUsbAnchorReportUtils::UpdateSerialNumber(&own, network_id_lookup_);
    const uint32_t reporter = own.anchor_rpt.serial_number;
    if (!SerialNumber_IsValid(reporter)) {
        return;
    }
    TWR_DATA_T* last = nullptr;
    for (TWR_DATA_T* pair : pairs_) {
        if (pair->serial_a == reporter || pair->serial_b == reporter) {
            UpdateTWRData(pair, reporter, &own, counter, step);
            last = pair;
        }
    }
    if (last != nullptr && (last->snoop_pair || last->serial_b == reporter)) {
        return;
    }
    UpdateSnoopData(reporter, &own);
}

void TwrSnoopEngine::UpdateTWRData(TWR_DATA_T* pair, uint32_t reporter,
                                   const derazud_usb_anchor_rpt_t* report, long counter, uint32_t step) {
    FollowCounter(pair, counter, step);
    const bool reporter_is_a = reporter == pair->serial_a;
    const uint32_t other = reporter_is_a ? pair->serial_b : pair->serial_a;
    const derazud_anchor_rpt_item_t item =
        DerazudUsbAnchorReportUtils::FindPacketInAnchorRptForSerialNum(report, other, network_id_lookup_);
    if (item.serial_number == other) {
        uint16_t id = 0;
        int64_t tx_time = -1;
        int64_t rx_time = -1;
        DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx_time, rx_time, &item);
        if (tx_time >= 0) {
            const int index = FindOrCreateMessage(pair, !reporter_is_a, tx_time);
            SNOOP_DATA_T& sent = reporter_is_a ? pair->messages_at_b[index] : pair->messages_at_a[index];
            EnterTransmission(sent, tx_time, reporter);
            SNOOP_DATA_T& received = reporter_is_a ? pair->messages_at_a[index] : pair->messages_at_b[index];
            received.timestamp = rx_time;
            received.transmitted = false;
            received.serial_number = reporter;
            pair->from_network_id_1 = id == kMasterNetworkId;
            if (pair->from_network_id_1) {
                // The master reports nothing itself: the reporter's own
                // report is a message it sent, found later by this time.
                const auto own_tx = static_cast<int64_t>(report->anchor_rpt.report.transmit_time &
                                                         DerazudAnchorReportItemUtils::kTransmitTimeMask);
                const int own = FindOrCreateMessage(pair, reporter_is_a, own_tx);
                EnterTransmission(reporter_is_a ? pair->messages_at_a[own] : pair->messages_at_b[own], own_tx,
                                  reporter);
            }
        }
    }
    pair->messages = std::min(CountComplete(pair), 3);
    pair->last_reporter = reporter;
}

void TwrSnoopEngine::UpdateSnoopData(uint32_t snoop, const derazud_usb_anchor_rpt_t* report) {
    DerazudUsbAnchorReportUtils::ForEachItem(
        report, network_id_lookup_, [&](const derazud_anchor_rpt_item_t& item) {
            for (TWR_DATA_T* pair : pairs_) {
                if (!pair->snoop_pair || snoop == pair->serial_a || snoop == pair->serial_b ||
                    (item.serial_number != pair->serial_a && item.serial_number != pair->serial_b)) {
                    continue;
                }
                AddSnoopData(pair, snoop, item);
            }
        });
}

void TwrSnoopEngine::AddSnoopData(TWR_DATA_T* pair, uint32_t snoop, const derazud_anchor_rpt_item_t& item) {
    uint16_t id = 0;
    int64_t tx_time = -1;
    int64_t rx_time = -1;
    DerazudAnchorReportItemUtils::GetTwrDataFromItem(id, tx_time, rx_time, &item);
    if (tx_time < 0) {
        printf("Invalid Tx Time in Snoop Report for %s\n", SerialNumber_ToString(item.serial_number).c_str());
        fflush(stdout);
        return;
    }
    const bool from_a = item.serial_number == pair->serial_a;
    const int index = FindOrCreateMessage(pair, from_a, tx_time);
    SNOOP_DATA_T& sent = from_a ? pair->messages_at_a[index] : pair->messages_at_b[index];
    sent.timestamp = tx_time;
    sent.transmitted = true;
    if (sent.serial_number == 0) {
        sent.serial_number = snoop;
    }
    sent.listeners[snoop] =
        ANCHOR_RX_DATA_T{rx_time, CalculateFirstPathDb(&item), CalculateTotalPathDb(&item)};
}

bool TwrSnoopEngine::FindExchange(const TWR_DATA_T* pair, Exchange* exchange) {
    std::vector<int> complete;
    for (int i = 0; i < pair->messages_at_a.size(); ++i) {
        if (IsComplete(pair->messages_at_a[i], pair->messages_at_b[i])) {
            complete.push_back(i);
        }
    }
    if (complete.size() < 3) {
        return false;
    }
    // In A's clock, across the 40-bit wrap: an exchange lasts milliseconds,
    // far inside the half range.
    const uint64_t reference = static_cast<uint64_t>(pair->messages_at_a[complete[0]].timestamp);
    auto a_time = [&](int index) {
        return DeviceTimeDifference(reference, static_cast<uint64_t>(pair->messages_at_a[index].timestamp));
    };
    std::stable_sort(complete.begin(), complete.end(), [&](int x, int y) { return a_time(x) < a_time(y); });
    auto b_later = [&](int earlier, int later) {
        return DeviceTimeDifference(static_cast<uint64_t>(pair->messages_at_b[earlier].timestamp),
                                    static_cast<uint64_t>(pair->messages_at_b[later].timestamp)) > 0;
    };
    for (size_t first = 0; first + 2 < complete.size(); ++first) {
        const int m0 = complete[first];
        const int m1 = complete[first + 1];
        const int m2 = complete[first + 2];
        const bool a_sends_0 = pair->messages_at_a[m0].transmitted;
        const bool alternate = a_sends_0 != pair->messages_at_a[m1].transmitted &&
                               a_sends_0 == pair->messages_at_a[m2].transmitted;
        const bool increasing =
            a_time(m0) < a_time(m1) && a_time(m1) < a_time(m2) && b_later(m0, m1) && b_later(m1, m2);
        if (alternate && increasing) {
            exchange->message[0] = m0;
            exchange->message[1] = m1;
            exchange->message[2] = m2;
            exchange->a_initiates = a_sends_0;
            return true;
        }
    }
    return false;
}

bool TwrSnoopEngine::CanCalculateTWR(TWR_DATA_T* pair) {
    if (pair->messages > 2) {
        pair->messages = 3;
    }
    Exchange exchange;
    return pair->messages == 3 && FindExchange(pair, &exchange);
}

void TwrSnoopEngine::HandleClockRollover(int64_t& t1, int64_t& t2, int64_t& t3) {
    if (t2 < t1) {
        t2 += kWrap;
        t3 += kWrap;
    }
    if (t2 > t3) {
        t3 += kWrap;
    }
}

double TwrSnoopEngine::SpeedOfLight() const {
    return FlatSettingsInterface(Settings::GlobalSettings()).GetSpeedOfLight();
}

bool TwrSnoopEngine::CalculateTWR(const TWR_DATA_T* pair, double* distance) const {
    Exchange exchange;
    if (!FindExchange(pair, &exchange)) {
        return false;
    }
    const ExchangeTimes t = TimesOf(pair, exchange);
    if (t.F == t.P || t.T == t.R) {
        return false;
    }
    const double k = static_cast<double>(t.F - t.P) / static_cast<double>(t.T - t.R);
    const double kT = std::trunc(k * static_cast<double>(t.T));
    const double kS = std::trunc(k * static_cast<double>(t.S));
    const double kR = std::trunc(k * static_cast<double>(t.R));
    // Round trip minus reply at each end: four times the time of flight, in
    // the initiator's ticks.
    const double sum = kT - kS + static_cast<double>(t.Q - t.P) - (kS - kR) + static_cast<double>(t.Q - t.F);
    const double result = sum * kTickSeconds * SpeedOfLight() / 4.0;
    if (!std::isfinite(result)) {
        return false;
    }
    *distance = result < 0.0 ? 0.0 : result;
    return true;
}

bool TwrSnoopEngine::DeviceHasSufficientSnoopsForDistance(const TWR_DATA_T* pair, const Exchange& exchange,
                                                          uint32_t snoop) {
    return exchange.a_initiates && pair->messages_at_a[exchange.message[0]].listeners.contains(snoop) &&
           pair->messages_at_b[exchange.message[1]].listeners.contains(snoop) &&
           pair->messages_at_a[exchange.message[2]].listeners.contains(snoop);
}

bool TwrSnoopEngine::CanCalculate2DTwrSnoop(TWR_DATA_T* pair) {
    return HasSnoops(pair, 1);
}

bool TwrSnoopEngine::CanCalculate3DTwrSnoop(TWR_DATA_T* pair) {
    return HasSnoops(pair, 2);
}

bool TwrSnoopEngine::CalculateSnoopTagDistance(const TWR_DATA_T* pair, const Exchange& exchange, double d,
                                               double s, uint32_t snoop, double* distance) const {
    const Roles roles = RolesOf(pair, exchange);
    // Only the snoop's own ranging with the responder measures s.
    const TWR_DATA_T* own = FindPair(snoop, roles.responder_serial);
    if (own != nullptr && own->distance >= 0.0) {
        s = own->distance;
    }
    twr_node_info_t node;
    int64_t delay = kDefaultSnoopAntennaDelay;
    if (node_lookup_ && node_lookup_(snoop, &node) && node.has_antenna_delay) {
        delay = node.antenna_delay;
    } else {
        printf(
            "TwrSnoopEngine: Could Not Find Snoop Antenna Delay for device %s. Using Default Antenna Delay\n",
            SerialNumber_ToString(snoop).c_str());
        fflush(stdout);
    }
    // Messages 1 and 3 came from the initiator, message 2 from the responder.
    const QList<SNOOP_DATA_T>& initiator = *roles.initiator;
    const QList<SNOOP_DATA_T>& responder = *roles.responder;
    int64_t U0 = Shifted(initiator[exchange.message[0]].listeners.value(snoop).receive_time, -delay);
    int64_t U1 = Shifted(responder[exchange.message[1]].listeners.value(snoop).receive_time, -delay);
    int64_t U2 = Shifted(initiator[exchange.message[2]].listeners.value(snoop).receive_time, -delay);
    HandleClockRollover(U0, U1, U2);
    const ExchangeTimes t = TimesOf(pair, exchange);
    if (t.F == t.P || t.T == t.R || U2 == U0) {
        return false;
    }
    const double k1 = static_cast<double>(t.F - t.P) / static_cast<double>(t.T - t.R);
    const double k2 = static_cast<double>(t.F - t.P) / static_cast<double>(U2 - U0);
    // The responder's reply less the snoop's gap between messages 1 and 2,
    // both in the initiator's ticks: (r - d - s) / c.
    const double dt =
        (k1 * static_cast<double>(t.S - t.R) - k2 * static_cast<double>(U1 - U0)) * kTickSeconds;
    const double result = d + s + SpeedOfLight() * dt;
    if (!std::isfinite(result)) {
        return false;
    }
    *distance = result;
    return true;
}

bool TwrSnoopEngine::Calculate2DTwrSnoop(TWR_DATA_T* pair) {
    Exchange exchange;
    double d = 0.0;
    if (!CanCalculate2DTwrSnoop(pair) || !FindExchange(pair, &exchange) || !CalculateTWR(pair, &d)) {
        return false;
    }
    pair->distance = d;
    const uint32_t snoop = SnoopsWithAllThree(pair, exchange).first();
    QVector3D responder_position;
    QVector3D snoop_position;
    if (!GetAnchorPosition(pair->serial_b, &responder_position) ||
        !GetAnchorPosition(snoop, &snoop_position)) {
        return false;
    }
    const double s = CalculateDistance(responder_position, snoop_position);
    double r = 0.0;
    if (!CalculateSnoopTagDistance(pair, exchange, d, s, snoop, &r)) {
        return false;
    }
    double denominator = 2.0 * s * d;
    if (denominator > -1e-6 && denominator < 1e-6) {
        denominator = 1e-6;
    }
    const double cos_t = std::max(-1.0, std::min(1.0, (s * s + d * d - r * r) / denominator));
    const double t = std::acos(cos_t);
    // The bearing of the snoop from the responder in the whole circle: the
    // one-argument arctangent would turn a snoop at smaller x half a turn.
    const double p = std::atan2(static_cast<double>(snoop_position.y()) - responder_position.y(),
                                static_cast<double>(snoop_position.x()) - responder_position.x());
    QVector3D position(static_cast<float>(responder_position.x() + d * std::cos(t + p)),
                       static_cast<float>(responder_position.y() + d * std::sin(t + p)), 0.0f);
    UpdateLocationFromBounds(position);
    return PublishPosition(pair->serial_a, position);
}

bool TwrSnoopEngine::Calculate3DTwrSnoop(TWR_DATA_T* pair) {
    Exchange exchange;
    double d = 0.0;
    if (!CanCalculate3DTwrSnoop(pair) || !FindExchange(pair, &exchange) || !CalculateTWR(pair, &d)) {
        return false;
    }
    pair->distance = d;
    QVector3D responder_position;
    if (!GetAnchorPosition(pair->serial_b, &responder_position)) {
        return false;
    }
    const Coordinates B = ToCoordinates(responder_position);
    struct Snoop {
        uint32_t serial;
        Coordinates position;
    };
    std::vector<Snoop> snoops;
    for (uint32_t serial : SnoopsWithAllThree(pair, exchange)) {
        QVector3D position;
        if (GetAnchorPosition(serial, &position)) {
            snoops.push_back(Snoop{serial, ToCoordinates(position)});
        }
    }
    // The pair of snoops whose directions from the responder are furthest
    // from one line.
    int best1 = -1;
    int best2 = -1;
    double best_sine = kCollinearSine;
    for (size_t i = 0; i < snoops.size(); ++i) {
        for (size_t j = i + 1; j < snoops.size(); ++j) {
            const Coordinates to1 = snoops[i].position - B;
            const Coordinates to2 = snoops[j].position - B;
            const double n1 = Norm(to1);
            const double n2 = Norm(to2);
            if (!(n1 > 0.0) || !(n2 > 0.0)) {
                continue;
            }
            const double sine = Norm(Cross(to1 * (1.0 / n1), to2 * (1.0 / n2)));
            if (sine >= best_sine) {
                best_sine = sine;
                best1 = static_cast<int>(i);
                best2 = static_cast<int>(j);
            }
        }
    }
    if (best1 < 0) {
        printf(
            "Could not find enough Snoops for 3D. Are all of your Snoops on a straight line with the "
            "Master?\n");
        fflush(stdout);
        return false;
    }
    std::vector<double> ranges(snoops.size(), std::numeric_limits<double>::quiet_NaN());
    for (size_t i = 0; i < snoops.size(); ++i) {
        const double s = snoops[i].position.CalculateDistanceBetween(B);
        double r = 0.0;
        if (CalculateSnoopTagDistance(pair, exchange, d, s, snoops[i].serial, &r)) {
            ranges[i] = r;
        }
    }
    const double r1 = ranges[static_cast<size_t>(best1)];
    const double r2 = ranges[static_cast<size_t>(best2)];
    if (std::isnan(r1) || std::isnan(r2)) {
        return false;
    }
    const Coordinates& N1 = snoops[static_cast<size_t>(best1)].position;
    const Coordinates& N2 = snoops[static_cast<size_t>(best2)].position;
    // The two mirror images about the plane through B, N1 and N2; the other
    // snoops' distances, then the bounds, tell which is the initiator. When
    // nothing does, the one on the side of ez for N1 before N2 in serial order.
    const Coordinates candidates[2] = {Trilaterate(B, N1, N2, d, r1, r2), Trilaterate(B, N2, N1, d, r2, r1)};
    double scores[2] = {0.0, 0.0};
    for (int c = 0; c < 2; ++c) {
        for (size_t i = 0; i < snoops.size(); ++i) {
            if (static_cast<int>(i) != best1 && static_cast<int>(i) != best2 && !std::isnan(ranges[i])) {
                scores[c] +=
                    std::fabs(candidates[c].CalculateDistanceBetween(snoops[i].position) - ranges[i]);
            }
        }
        QVector3D held(static_cast<float>(candidates[c].GetX()), static_cast<float>(candidates[c].GetY()),
                       static_cast<float>(candidates[c].GetZ()));
        UpdateLocationFromBounds(held);
        scores[c] += ToCoordinates(held).CalculateDistanceBetween(candidates[c]);
    }
    const Coordinates& chosen = scores[1] < scores[0] - kMirrorScoreTie ? candidates[1] : candidates[0];
    QVector3D position(static_cast<float>(chosen.GetX()), static_cast<float>(chosen.GetY()),
                       static_cast<float>(chosen.GetZ()));
    UpdateLocationFromBounds(position);
    return PublishPosition(pair->serial_a, position);
}

void TwrSnoopEngine::RunTwrSnoop(bool threeDimensions) {
    for (TWR_DATA_T* pair : pairs_) {
        double distance = 0.0;
        if (!pair->snoop_pair && CanCalculateTWR(pair) && CalculateTWR(pair, &distance)) {
            pair->distance = distance;
        }
    }
    for (TWR_DATA_T* pair : pairs_) {
        if (!pair->snoop_pair) {
            continue;
        }
        if (threeDimensions) {
            if (CanCalculate3DTwrSnoop(pair)) {
                Calculate3DTwrSnoop(pair);
            }
        } else if (CanCalculate2DTwrSnoop(pair)) {
            Calculate2DTwrSnoop(pair);
        }
    }
}

void TwrSnoopEngine::UpdateLocationFromBounds(QVector3D& location) const {
    if (has_max_bounds_) {
        location.setX(std::min(location.x(), max_bounds_.x()));
        location.setY(std::min(location.y(), max_bounds_.y()));
        location.setZ(std::min(location.z(), max_bounds_.z()));
    }
    if (has_min_bounds_) {
        location.setX(std::max(location.x(), min_bounds_.x()));
        location.setY(std::max(location.y(), min_bounds_.y()));
        location.setZ(std::max(location.z(), min_bounds_.z()));
    }
}

bool TwrSnoopEngine::GetAnchorPosition(uint32_t serial, QVector3D* position) const {
    twr_node_info_t node;
    if (!node_lookup_ || !node_lookup_(serial, &node) || !IsFinite(node.position)) {
        return false;
    }
    *position = node.position;
    return true;
}

bool TwrSnoopEngine::GetMasterPosition(QVector3D* position) const {
    const std::vector<MasterSettings> masters =
        FlatSettingsInterface(Settings::GlobalSettings()).GetMasterList();
    if (masters.empty()) {
        return false;
    }
    const MasterSettings& master = masters.front();
    const QVector3D configured(static_cast<float>(master.GetX()), static_cast<float>(master.GetY()),
                               static_cast<float>(master.GetZ()));
    if (!IsFinite(configured)) {
        return false;
    }
    *position = configured;
    return true;
}

bool TwrSnoopEngine::CalculateMasterToSnoopDistance(uint32_t serial, double* distance) const {
    QVector3D master;
    QVector3D snoop;
    if (!GetMasterPosition(&master) || !GetAnchorPosition(serial, &snoop)) {
        return false;
    }
    *distance = CalculateDistance(master, snoop);
    return true;
}

double TwrSnoopEngine::CalculateDistance(QVector3D a, QVector3D b) {
    return ToCoordinates(a).CalculateDistanceBetween(ToCoordinates(b));
}

double TwrSnoopEngine::CalculateFirstPathDb(const signal_strength_t& signal) {
    const double f1 = signal.first_path_amplitude_1;
    const double f2 = signal.first_path_amplitude_2;
    const double f3 = signal.first_path_amplitude_3;
    return PowerDb(f1 * f1 + f2 * f2 + f3 * f3, signal.preamble_accumulation_count);
}

double TwrSnoopEngine::CalculateTotalPathDb(const signal_strength_t& signal) {
    return PowerDb(static_cast<double>(signal.channel_impulse_response_power) * 131072.0,
                   signal.preamble_accumulation_count);
}

double TwrSnoopEngine::CalculateFirstPathDb(const derazud_anchor_rpt_item_t* item) {
    return CalculateFirstPathDb(item->header.signal_strength);
}

double TwrSnoopEngine::CalculateTotalPathDb(const derazud_anchor_rpt_item_t* item) {
    return CalculateTotalPathDb(item->header.signal_strength);
}

double TwrSnoopEngine::GetSignalQualityDiff(ANCHOR_RX_DATA_T reception) {
    const double diff = reception.total_receive_power - reception.first_path_power;
    return diff >= 0.0 ? diff : kWorstSignalQualityDiff;
}

void TwrSnoopEngine::AttachPublisher(std::shared_ptr<VexPublisher> publisher) {
    publisher_.Attach(std::move(publisher));
}

void TwrSnoopEngine::DetachPublisher(const VexPublisher* expected) {
    publisher_.Detach(expected);
}

bool TwrSnoopEngine::PublishPosition(uint32_t serial, QVector3D position) const {
    const std::shared_ptr<VexPublisher> publisher = publisher_.Get();
    if (!IsFinite(position) || !publisher) {
        return false;
    }
    vex_data_position_t item{};
    item.x = ToMillimetres(position.x());
    item.y = ToMillimetres(position.y());
    item.z = ToMillimetres(position.z());
    item.error = 0;
    VexPacket packet(serial);
    if (!VexData_Add(packet, item)) {
        return false;
    }
    publisher->PublishOutputVex(packet);
    return true;
}
