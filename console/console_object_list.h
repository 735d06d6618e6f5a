// The interpreter's list of console objects, kept in ascending byte order of
// names. Holds pointers only: the records are globals owned by their code.
#pragma once

#include <cstdint>
#include <vector>

class ConsoleObject;

class ConsoleObjectList {
public:
    // Inserts before the first record whose name compares greater, so an
    // object with an existing name lands after the existing one.
    void Insert(ConsoleObject* object);

    // First live record whose name equals name exactly; sets *position to its
    // index when found. Destroyed records are passed over.
    ConsoleObject* Find(const char* name, int32_t* position = nullptr) const;

    int32_t Count() const { return static_cast<int32_t>(objects_.size()); }
    ConsoleObject* At(int32_t index) const { return objects_[static_cast<size_t>(index)]; }

    // Takes the record out of the list (the first entry that is it).
    void Remove(const ConsoleObject* object);
    // Drops every node (not the records).
    void Clear();

private:
    std::vector<ConsoleObject*> objects_;
};
