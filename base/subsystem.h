// The subsystem framework: every long-lived service of the engine derives from
// Subsystem, registers itself while globals are constructed, and is driven by
// CBaseEngine in ascending priority order once per engine frame.
#pragma once

#include <cstdint>

class Subsystem {
public:
    Subsystem() = default;
    virtual ~Subsystem() = default;

    Subsystem(const Subsystem&) = delete;
    Subsystem& operator=(const Subsystem&) = delete;

    // One step of work per engine frame; non-zero asks the program to stop.
    virtual int32_t frame() { return 0; }
    // Releases what the subsystem holds; must tolerate being called twice.
    virtual void shutdown(int32_t reason);

    const char* Name() const { return name; }

    char name[250] = {};
    int16_t setupCount = 0;
    int16_t priority = 0;
    int32_t active = 0;
    int32_t running = 0;
    int32_t finished = 0;

    // Link of the list of subsystems registered before the engine exists.
    Subsystem* pendingNext = nullptr;

protected:
    // Called by every constructor with the class name.
    void Setup(const char* className);
    // Called by every destructor after unregistering.
    void Teardown();
};

// The registry: a doubly linked list of subsystem pointers. It never owns a
// subsystem. Constant-initialised, so it is usable whatever order globals are
// constructed in.
class SubsystemRegistry {
public:
    struct Node {
        Subsystem* subsystem;
        Node* next;
        Node* previous;
    };

    constexpr SubsystemRegistry() = default;

    int32_t Append(Subsystem* subsystem);
    // Removes every node whose subsystem carries the given name.
    void RemoveByName(const char* name);
    // Sorts by ascending priority, moving payloads (nodes stay in place);
    // equal priorities keep their registration order.
    void Sort();

    int32_t Count() const { return count_; }
    Subsystem* At(int32_t index) const;
    Node* Head() const { return head_; }
    Node* Tail() const { return tail_; }

private:
    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    int32_t count_ = 0;
};

// The registry's ordering: a strict weak ordering on priority alone.
bool SubsystemGoesBefore(const Subsystem* a, const Subsystem* b);

// The engine object: owns the registry, runs frames and the shutdown pass.
// It is never registered itself.
class CBaseEngine : public Subsystem {
public:
    explicit CBaseEngine(SubsystemRegistry* registry);
    ~CBaseEngine() override;

    // Calls every registered subsystem's frame in registry order and ORs the
    // results into the sticky stop flag, which it returns.
    int32_t frame() override;
    // Sets stop and calls every registered subsystem's shutdown.
    void shutdown(int32_t reason) override;

    // The listing printed at start-up.
    void PrintListing() const;

    SubsystemRegistry* Registry() const { return registry_; }

    int32_t stop = 0;

private:
    SubsystemRegistry* registry_;
};

// The program's one registry and engine.
extern SubsystemRegistry g_subsystemRegistry;
extern CBaseEngine g_engine;

// Appends to the registry once the engine exists, else to the pending list.
int32_t RegisterSubsystem(Subsystem* subsystem);
// Once the engine exists, removes every registry node carrying the name.
void UnregisterSubsystem(Subsystem* subsystem);
// Sorts the program's registry.
void SortSubsystems();

// Moves the pending subsystems, in pending order, to the tail of registry.
// The engine's constructor calls this; exposed for the framework's tests.
void DrainPendingSubsystems(SubsystemRegistry* registry);
bool EngineExists();
