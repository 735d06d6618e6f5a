#include "platform/key_names.h"

#include <cstring>

namespace {

struct NamedKey {
    uint8_t code;
    const char* name;
};

constexpr NamedKey kNamedKeys[] = {
    {1, "esc"},        {2, "1"},          {3, "2"},        {4, "3"},         {5, "4"},
    {6, "5"},          {7, "6"},          {8, "7"},        {9, "8"},         {10, "9"},
    {11, "0"},         {12, "-"},         {13, "="},       {14, "back"},     {15, "tab"},
    {16, "q"},         {17, "w"},         {18, "e"},       {19, "r"},        {20, "t"},
    {21, "y"},         {22, "u"},         {23, "i"},       {24, "o"},        {25, "p"},
    {26, "["},         {27, "]"},         {28, "return"},  {29, "control"},  {30, "a"},
    {31, "s"},         {32, "d"},         {33, "f"},       {34, "g"},        {35, "h"},
    {36, "j"},         {37, "k"},         {38, "l"},       {39, ";"},        {40, "'"},
    {41, "grave"},     {42, "shift"},     {43, "\\"},      {44, "z"},        {45, "x"},
    {46, "c"},         {47, "v"},         {48, "b"},       {49, "n"},        {50, "m"},
    {51, ","},         {52, "."},         {53, "/"},       {54, "shift"},    {55, "*"},
    {56, "menu"},      {57, "space"},     {58, "capslock"}, {59, "f1"},      {60, "f2"},
    {61, "f3"},        {62, "f4"},        {63, "f5"},      {64, "f6"},       {65, "f7"},
    {66, "f8"},        {67, "f9"},        {68, "f10"},     {69, "numlock"},  {70, "scroll"},
    {71, "7"},         {72, "8"},         {73, "9"},       {74, "-"},        {75, "4"},
    {76, "5"},         {77, "6"},         {78, "+"},       {79, "1"},        {80, "2"},
    {81, "3"},         {82, "0"},         {83, "."},       {86, "oem"},      {87, "f11"},
    {88, "f12"},       {153, "track"},    {156, "enter"},  {157, "control"}, {160, "mute"},
    {181, "/"},        {183, "sysrq"},    {184, "menu"},   {197, "pause"},   {199, "home"},
    {200, "up"},       {201, "prior"},    {203, "left"},   {205, "right"},   {207, "end"},
    {208, "down"},     {209, "next"},     {210, "insert"}, {211, "delete"},  {228, "mouse1"},
    {229, "mouse2"},   {230, "mouse3"},   {231, "mwheelup"}, {232, "mwheeldown"}, {233, "mousemove"},
};

struct KeyNameTable {
    char names[kKeyCount][16] = {};
    constexpr KeyNameTable() {
        for (const NamedKey& key : kNamedKeys) {
            for (int i = 0; key.name[i] != '\0' && i < 15; ++i) names[key.code][i] = key.name[i];
        }
    }
};

constexpr KeyNameTable kTable;

}  // namespace

const char* KeyName(int code) {
    if (code <= 0 || code >= kKeyCount) return nullptr;
    return kTable.names[code];
}

int KeyCodeOfName(const char* name) {
    if (name == nullptr) return -1;
    for (int code = 0; code < kKeyCount; ++code) {
        if (std::strcmp(kTable.names[code], name) == 0 && kTable.names[code][0] != '\0') return code;
    }
    return -1;
}
