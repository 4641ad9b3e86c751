#pragma once
// A computed report as the engine hands it to whatever shows, keeps or sends it: every number a
// view or a sink needs travels with it, so that none of them reads the engine.

#include "engine/MeasurementLog.h"

#include <cstdint>
#include <vector>

struct TReport {
    // Time, Run, count, correlation values, phase, time of flight and temperature, as logged.
    MeasurementLog::TRecord Record;
    int32_t BigTime = 0; // whole carrier cycles
    // The report's number among those computed in its Run (Run 0: outside any Run), from 1.
    int64_t Number = 0;
    // Whether the batch's filter kept it; known once its batch is processed (false before).
    bool Kept = false;
};

// One processed batch: every report computed in it, in order, each with its kept flag.
using TBatch = std::vector<TReport>;
