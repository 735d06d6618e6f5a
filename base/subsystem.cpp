#include "base/subsystem.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/message_output.h"

namespace {

// Both are constant-initialised: subsystems may register before any dynamic
// initialiser of this file has run.
constinit bool s_engineExists = false;
constinit Subsystem* s_pendingHead = nullptr;
constinit Subsystem* s_pendingTail = nullptr;

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

bool SubsystemGoesBefore(const Subsystem* a, const Subsystem* b) { return a->priority < b->priority; }

void SubsystemRegistry::Sort() {
    // The payloads are sorted apart and written back in node order, so the
    // nodes stay where they are. A stable sort keeps subsystems of equal
    // priority in registration order.
    std::vector<Subsystem*> payloads;
    payloads.reserve(static_cast<size_t>(count_));
    for (Node* n = head_; n != nullptr; n = n->next) payloads.push_back(n->subsystem);
    std::stable_sort(payloads.begin(), payloads.end(), SubsystemGoesBefore);
    size_t i = 0;
    for (Node* n = head_; n != nullptr; n = n->next) n->subsystem = payloads[i++];
}

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
