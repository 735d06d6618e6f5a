#include "engine/subsystem.h"

#include <cstring>

#include "platform/message_output.h"

namespace {

// Both are constant-initialised: subsystems may register before any dynamic
// initialiser of this file has run.
constinit bool s_engineExists = false;
constinit Subsystem* s_pendingHead = nullptr;
constinit Subsystem* s_pendingTail = nullptr;

bool GoesBefore(const Subsystem* a, const Subsystem* b) {
    return a->priority < b->priority || std::strcmp(a->name, b->name) == 0;
}

void SwapPayloads(SubsystemRegistry::Node* a, SubsystemRegistry::Node* b) {
    Subsystem* held = a->subsystem;
    a->subsystem = b->subsystem;
    b->subsystem = held;
}

// Quicksort over the node range first..last, partitioning on last's payload.
// A range whose last node lies just before its first is empty: the recursion
// produces one whenever the pivot lands at the start of its range, and
// walking it would run past the range's end.
void SortRange(SubsystemRegistry::Node* first, SubsystemRegistry::Node* last) {
    if (first == nullptr || last == nullptr || first->next == nullptr) return;
    if (last->next == first) return;

    if (first->next != last && first != last) {
        Subsystem* pivot = last->subsystem;
        SubsystemRegistry::Node* i = nullptr;
        for (SubsystemRegistry::Node* j = first; j != last; j = j->next) {
            if (GoesBefore(j->subsystem, pivot)) {
                i = (i == nullptr) ? first : i->next;
                SwapPayloads(i, j);
            }
        }
        i = (i == nullptr) ? first : i->next;
        SwapPayloads(i, last);
        SortRange(i->next, last);
        SortRange(first, i->previous);
    }

    if (first->next == last && first->subsystem->priority > last->subsystem->priority) {
        SwapPayloads(first, last);
    }
}

}  // namespace

constinit SubsystemRegistry g_subsystemRegistry;

void Subsystem::Setup(const char* className) {
    std::memset(name, 0, sizeof name);
    std::strncpy(name, className, sizeof name - 1);  // the last byte stays the terminator
    priority = 64;
    active = 1;
    running = 1;
    finished = 0;
    ++setupCount;
}

void Subsystem::Teardown() {
    --setupCount;
    active = 0;
    running = 0;
}

void Subsystem::shutdown(int32_t) { finished = 1; }

int32_t SubsystemRegistry::Append(Subsystem* subsystem) {
    Node* node = new Node{subsystem, nullptr, tail_};
    if (tail_ != nullptr) {
        tail_->next = node;
    } else {
        head_ = node;
    }
    tail_ = node;
    return ++count_;
}

void SubsystemRegistry::RemoveByName(const char* name) {
    Node* node = head_;
    while (node != nullptr) {
        Node* next = node->next;
        if (std::strcmp(node->subsystem->name, name) == 0) {
            if (node->previous != nullptr) node->previous->next = node->next;
            else head_ = node->next;
            if (node->next != nullptr) node->next->previous = node->previous;
            else tail_ = node->previous;
            delete node;
            --count_;
        }
        node = next;
    }
}

void SubsystemRegistry::Sort() { SortRange(head_, tail_); }

Subsystem* SubsystemRegistry::At(int32_t index) const {
    Node* node = head_;
    for (int32_t i = 0; i < index && node != nullptr; ++i) node = node->next;
    return node != nullptr ? node->subsystem : nullptr;
}

bool EngineExists() { return s_engineExists; }

int32_t RegisterSubsystem(Subsystem* subsystem) {
    if (s_engineExists) return g_subsystemRegistry.Append(subsystem);
    subsystem->pendingNext = nullptr;
    if (s_pendingTail != nullptr) s_pendingTail->pendingNext = subsystem;
    else s_pendingHead = subsystem;
    s_pendingTail = subsystem;
    int32_t count = 0;
    for (Subsystem* s = s_pendingHead; s != nullptr; s = s->pendingNext) ++count;
    return count;
}

void UnregisterSubsystem(Subsystem* subsystem) {
    if (s_engineExists) g_subsystemRegistry.RemoveByName(subsystem->name);
}

void SortSubsystems() { g_subsystemRegistry.Sort(); }

void DrainPendingSubsystems(SubsystemRegistry* registry) {
    Subsystem* s = s_pendingHead;
    while (s != nullptr) {
        Subsystem* next = s->pendingNext;
        s->pendingNext = nullptr;
        registry->Append(s);
        s = next;
    }
    s_pendingHead = nullptr;
    s_pendingTail = nullptr;
}

CBaseEngine::CBaseEngine(SubsystemRegistry* registry) : registry_(registry) {
    Setup("CBaseEngine");
    priority = 999;
    stop = 0;
    s_engineExists = true;
    DrainPendingSubsystems(registry_);
}

CBaseEngine::~CBaseEngine() {
    stop = 1;
    active = 0;
    running = 0;
    for (SubsystemRegistry::Node* n = registry_->Head(); n != nullptr; n = n->next) {
        n->subsystem->shutdown(0);
    }
}

int32_t CBaseEngine::frame() {
    const int32_t count = registry_->Count();
    SubsystemRegistry::Node* node = registry_->Head();
    for (int32_t i = 0; i < count && node != nullptr; ++i, node = node->next) {
        stop |= node->subsystem->frame();
    }
    return stop;
}

void CBaseEngine::shutdown(int32_t) {
    --setupCount;
    stop = 1;
    active = 0;
    running = 0;
    for (SubsystemRegistry::Node* n = registry_->Head(); n != nullptr; n = n->next) {
        n->subsystem->shutdown(0);
    }
}

void CBaseEngine::PrintListing() const {
    PrintLine("Globally Allocated Subsystems (sorted): %i systems", registry_->Count());
    int32_t i = 0;
    for (SubsystemRegistry::Node* n = registry_->Head(); n != nullptr; n = n->next, ++i) {
        PrintLine("--Subsystem %i: %s (priority: %i)", i, n->subsystem->name,
                  n->subsystem->priority);
    }
}
