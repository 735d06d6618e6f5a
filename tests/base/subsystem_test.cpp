#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/subsystem.h"
#include "support/test_support.h"

namespace {

// A subsystem that records its frames into a shared log.
class Recorder : public Subsystem {
public:
    Recorder(const char* className, int16_t order, std::vector<std::string>* log,
             int32_t result = 0)
        : log_(log), result_(result) {
        Setup(className);
        priority = order;
    }
    ~Recorder() override { Teardown(); }

    int32_t frame() override {
        log_->push_back(name);
        return result_;
    }
    void shutdown(int32_t reason) override {
        Subsystem::shutdown(reason);
        ++shutdowns;
    }

    int shutdowns = 0;

private:
    std::vector<std::string>* log_;
    int32_t result_;
};

std::vector<std::string> Order(const SubsystemRegistry& registry) {
    std::vector<std::string> names;
    for (auto* n = registry.Head(); n != nullptr; n = n->next) names.push_back(n->subsystem->name);
    return names;
}

std::vector<int> Priorities(const SubsystemRegistry& registry) {
    std::vector<int> values;
    for (auto* n = registry.Head(); n != nullptr; n = n->next) values.push_back(n->subsystem->priority);
    return values;
}

// Frees what a test registry still holds.
void Empty(SubsystemRegistry& registry) {
    while (registry.Head() != nullptr) registry.RemoveByName(registry.Head()->subsystem->name);
}

}  // namespace

TEST(SubsystemSetup, SetsNameDefaultsAndFlags) {
    std::vector<std::string> log;
    Recorder r(std::string(300, 'n').c_str(), 5, &log);
    EXPECT_EQ(std::string(r.name).size(), 249u);  // the name field holds 250 bytes
    EXPECT_EQ(r.active, 1);
    EXPECT_EQ(r.running, 1);
    EXPECT_EQ(r.finished, 0);
    EXPECT_EQ(r.setupCount, 1);
    r.shutdown(0);
    EXPECT_EQ(r.finished, 1);
}

TEST(SubsystemSort, EngineRegistrationOrderSortsIntoFrameOrder) {
    std::vector<std::string> log;
    Recorder interpreter("CCommandInterpreter", 10, &log), game("CGameSystem", 15, &log),
        input("CInputSystem", 3, &log), os("COperatingSystem", 1, &log),
        renderer("CRenderer", 35, &log), video("CVideoSystem", 8, &log);
    SubsystemRegistry registry;
    for (Subsystem* s : std::initializer_list<Subsystem*>{&interpreter, &game, &input, &os,
                                                          &renderer, &video}) {
        registry.Append(s);
    }
    registry.Sort();
    EXPECT_EQ(Order(registry),
              (std::vector<std::string>{"COperatingSystem", "CInputSystem", "CVideoSystem",
                                        "CCommandInterpreter", "CGameSystem", "CRenderer"}));
    Empty(registry);
}

TEST(SubsystemSort, EveryArrangementOfUpToSevenSortsAscending) {
    std::vector<std::string> log;
    std::vector<int16_t> values = {1, 3, 8, 10, 15, 35, 64};
    std::vector<std::unique_ptr<Recorder>> owned;
    for (int16_t v : values) {
        owned.push_back(std::make_unique<Recorder>(("S" + std::to_string(v)).c_str(), v, &log));
    }
    for (size_t n = 1; n <= values.size(); ++n) {
        std::vector<size_t> order(n);
        for (size_t i = 0; i < n; ++i) order[i] = i;
        do {
            SubsystemRegistry registry;
            for (size_t i : order) registry.Append(owned[i].get());
            registry.Sort();
            std::vector<int> sorted = Priorities(registry);
            ASSERT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
            ASSERT_EQ(sorted.size(), n);
            Empty(registry);
        } while (std::next_permutation(order.begin(), order.end()));
    }
}

TEST(SubsystemSort, EqualPrioritiesEachAppearOnce) {
    std::vector<std::string> log;
    Recorder a("A", 5, &log), b("B", 5, &log), c("C", 1, &log), d("D", 5, &log);
    SubsystemRegistry registry;
    registry.Append(&a);
    registry.Append(&b);
    registry.Append(&c);
    registry.Append(&d);
    registry.Sort();
    std::vector<std::string> names = Order(registry);
    EXPECT_EQ(names.front(), "C");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C", "D"}));
    Empty(registry);
}

TEST(SubsystemSort, EqualPrioritiesKeepTheirRegistrationOrder) {
    std::vector<std::string> log;
    Recorder a("A", 5, &log), b("B", 5, &log), c("C", 1, &log), d("D", 5, &log), e("E", 5, &log);
    SubsystemRegistry registry;
    for (Subsystem* s : std::initializer_list<Subsystem*>{&a, &b, &c, &d}) registry.Append(s);
    registry.Sort();
    EXPECT_EQ(Order(registry), (std::vector<std::string>{"C", "A", "B", "D"}));
    // Sorting again, with one more appended, moves nothing that was in order.
    registry.Append(&e);
    registry.Sort();
    EXPECT_EQ(Order(registry), (std::vector<std::string>{"C", "A", "B", "D", "E"}));
    Empty(registry);
}

TEST(SubsystemSort, OrderingIsStrictAndLooksAtPriorityAlone) {
    std::vector<std::string> log;
    Recorder low("Same", 1, &log), high("Same", 3, &log), other("Other", 3, &log);
    EXPECT_FALSE(SubsystemGoesBefore(&low, &low));  // irreflexive
    EXPECT_TRUE(SubsystemGoesBefore(&low, &high));
    EXPECT_FALSE(SubsystemGoesBefore(&high, &low));  // asymmetric, whatever the names
    EXPECT_FALSE(SubsystemGoesBefore(&high, &other));
    EXPECT_FALSE(SubsystemGoesBefore(&other, &high));
    const Recorder negative("Negative", -2, &log);
    EXPECT_TRUE(SubsystemGoesBefore(&negative, &low));  // signed priorities
}

TEST(SubsystemSort, SubsystemsSharingANameStillSortByPriority) {
    std::vector<std::string> log;
    Recorder first("Same", 3, &log), other("Other", 2, &log), second("Same", 1, &log);
    SubsystemRegistry registry;
    registry.Append(&first);
    registry.Append(&other);
    registry.Append(&second);
    registry.Sort();
    EXPECT_EQ(Priorities(registry), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(registry.Head()->subsystem, &second);
    EXPECT_EQ(registry.Tail()->subsystem, &first);
    Empty(registry);
}

TEST(SubsystemRegistryTest, UnregisterRemovesEveryNodeOfThatName) {
    std::vector<std::string> log;
    Recorder a("Same", 1, &log), b("Other", 2, &log), c("Same", 3, &log);
    SubsystemRegistry registry;
    registry.Append(&a);
    registry.Append(&b);
    registry.Append(&c);
    registry.RemoveByName("Same");
    EXPECT_EQ(Order(registry), (std::vector<std::string>{"Other"}));
    EXPECT_EQ(registry.Count(), 1);
    registry.RemoveByName("Other");
    EXPECT_EQ(registry.Count(), 0);
    EXPECT_EQ(registry.Head(), nullptr);
    EXPECT_EQ(registry.Tail(), nullptr);
}

TEST(BaseEngine, EmptyRegistryListsNoSubsystems) {
    SubsystemRegistry registry;
    CBaseEngine engine(&registry);
    PrintCapture output;
    engine.PrintListing();
    EXPECT_EQ(output.Lines(),
              (std::vector<std::string>{"Globally Allocated Subsystems (sorted): 0 systems"}));
    EXPECT_EQ(engine.frame(), 0);
}

TEST(BaseEngine, ListingNamesEachSubsystemWithItsPriority) {
    std::vector<std::string> log;
    Recorder os("COperatingSystem", 1, &log), interpreter("CCommandInterpreter", 10, &log);
    SubsystemRegistry registry;
    registry.Append(&os);
    registry.Append(&interpreter);
    CBaseEngine engine(&registry);
    PrintCapture output;
    engine.PrintListing();
    EXPECT_EQ(output.Lines(),
              (std::vector<std::string>{"Globally Allocated Subsystems (sorted): 2 systems",
                                        "--Subsystem 0: COperatingSystem (priority: 1)",
                                        "--Subsystem 1: CCommandInterpreter (priority: 10)"}));
    Empty(registry);
}

TEST(BaseEngine, StopIsStickyAndEverySubsystemStillRuns) {
    std::vector<std::string> log;
    Recorder first("First", 1, &log), failing("Failing", 2, &log, 1), last("Last", 3, &log);
    SubsystemRegistry registry;
    registry.Append(&first);
    registry.Append(&failing);
    registry.Append(&last);
    CBaseEngine engine(&registry);
    EXPECT_NE(engine.frame(), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"First", "Failing", "Last"}));
    EXPECT_NE(engine.frame(), 0);
    EXPECT_EQ(log.size(), 6u);
    Empty(registry);
}

TEST(BaseEngine, ShutdownReachesEverySubsystemAndStops) {
    std::vector<std::string> log;
    Recorder a("A", 1, &log), b("B", 2, &log);
    SubsystemRegistry registry;
    registry.Append(&a);
    registry.Append(&b);
    {
        CBaseEngine engine(&registry);
        EXPECT_EQ(engine.frame(), 0);
        engine.shutdown(0);
        EXPECT_EQ(engine.stop, 1);
        EXPECT_EQ(a.shutdowns, 1);
        EXPECT_EQ(b.shutdowns, 1);
        EXPECT_NE(engine.frame(), 0);
        // A second quit in the same frame shuts down again.
        engine.shutdown(0);
        EXPECT_EQ(a.shutdowns, 2);
    }
    // The engine's destructor makes one more pass over what is registered.
    EXPECT_EQ(a.shutdowns, 3);
    Empty(registry);
}

TEST(ProgramRegistry, InterpreterIsRegisteredWithTheEngine) {
    ASSERT_TRUE(EngineExists());
    bool found = false;
    for (auto* n = g_subsystemRegistry.Head(); n != nullptr; n = n->next) {
        if (std::string(n->subsystem->name) == "CCommandInterpreter") {
            found = true;
            EXPECT_EQ(n->subsystem->priority, 10);
        }
    }
    EXPECT_TRUE(found);
}
