#include "console/console_object.h"

#include <cstdlib>
#include <cstring>

#include "console/console_object_list.h"

namespace {

char* CopyText(const char* text) { return ::strdup(text != nullptr ? text : ""); }

}  // namespace

ConsoleObject::ConsoleObject(const char* objectName, float value)
    : name(CopyText(objectName)), floatValue(value), kind(kConsoleFloat) {
    AddConsoleObject(this);
}

ConsoleObject::ConsoleObject(const char* objectName, int32_t value, bool isReadOnly)
    : name(CopyText(objectName)), intValue(value), kind(kConsoleInteger),
      readOnly(isReadOnly ? 1 : 0) {
    AddConsoleObject(this);
}

ConsoleObject::ConsoleObject(const char* objectName, const char* text, bool isReadOnly)
    : name(CopyText(objectName)), stringValue(CopyText(text)), kind(kConsoleString),
      readOnly(isReadOnly ? 1 : 0) {
    AddConsoleObject(this);
}

ConsoleObject::ConsoleObject(const char* objectName, ConsoleHandler commandHandler, KeyRepeat repeat)
    : name(CopyText(objectName)), handler(commandHandler), kind(kConsoleCommand), keyRepeat(repeat) {
    AddConsoleObject(this);
}

ConsoleObject::~ConsoleObject() {
    // The record leaves the interpreter's list: an object that lived on a
    // stack (or in a library unloaded early) must not be read after it is
    // gone. The destroyed kind still tells anyone holding it that it is.
    RemoveConsoleObject(this);
    std::free(name);
    std::free(stringValue);
    name = nullptr;
    stringValue = nullptr;
    floatValue = 0.0f;
    intValue = 0;
    handler = nullptr;
    kind = kConsoleDestroyed;
}

void ConsoleObject::SetString(const char* text) {
    char* copy = CopyText(text);
    std::free(stringValue);
    stringValue = copy;
}

void ConsoleObjectList::Insert(ConsoleObject* object) {
    auto at = objects_.begin();
    while (at != objects_.end() &&
           ((*at)->name == nullptr || std::strcmp((*at)->name, object->name) <= 0)) {
        ++at;
    }
    objects_.insert(at, object);
}

ConsoleObject* ConsoleObjectList::Find(const char* objectName, int32_t* position) const {
    for (size_t i = 0; i < objects_.size(); ++i) {
        ConsoleObject* object = objects_[i];
        if (object->kind == kConsoleDestroyed || object->name == nullptr) continue;
        if (std::strcmp(object->name, objectName) == 0) {
            if (position != nullptr) *position = static_cast<int32_t>(i);
            return object;
        }
    }
    return nullptr;
}

void ConsoleObjectList::Remove(const ConsoleObject* object) {
    for (auto at = objects_.begin(); at != objects_.end(); ++at) {
        if (*at == object) {
            objects_.erase(at);
            return;
        }
    }
}

void ConsoleObjectList::Clear() { std::vector<ConsoleObject*>().swap(objects_); }
