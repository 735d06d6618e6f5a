// A light scan of HLSL source for the globals declared at file scope and
// their register(...) annotations. glslang keeps register(cN) as a block
// offset of 16 * N but places unannotated globals straight after the previous
// member, on top of annotated ones; it also gives an unannotated sampler the
// same binding as register(s0). The compiler uses this scan to allocate
// registers the way the Direct3D 9 compiler does.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct HlslGlobal {
    std::string name;
    bool isSampler = false;  // sampler*, texture* and SamplerState types
    char registerClass = 0;  // 'c', 's', 't'... from register(xN); 0 when none
    int registerNumber = -1;
    bool hasOtherAnnotation = false;  // a semantic or packoffset after a ':'
    int registerCount = 1;            // float4 registers a constant needs
    size_t annotationPos = 0;         // where ": register(cN)" may be inserted
};

// Globals in declaration order. Comments, preprocessor lines and bodies of
// functions, structs and cbuffers are skipped; static, const and typedef
// declarations are left out. Malformed source yields what could be read.
std::vector<HlslGlobal> ScanHlslGlobals(const std::string& source);

// Returns source with ": register(cN)" added to every numeric global that has
// no annotation of its own, allocated in declaration order from the register
// after the highest annotated one. Line numbers stay the same.
std::string AssignConstantRegisters(const std::string& source, const std::vector<HlslGlobal>& globals);
