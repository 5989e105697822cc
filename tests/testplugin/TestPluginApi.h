// Extra exports of the test plug-in through which a test reads what the plug-in was asked.
#pragma once

#include "kpi/KpiInterface.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TestKpiCounts {
    int32_t Init;
    int32_t Deinit;
    int32_t Open;
    int32_t Close;
    int32_t Render;
    int32_t SetPosition;
    int32_t OpenNow;    /* handles open at this moment */
    int32_t MaxOpenNow; /* most handles open at once */
    /* Against the thread of the first Init: the calls other than Render that came from another
       thread, and the Render calls that came from that one. A window program's plug-in expects
       both to stay 0. */
    int32_t CallsOffMainThread;
    int32_t RendersOnMainThread;
} TestKpiCounts;

typedef struct TestKpiSetPositionCall {
    KPI_HANDLE Handle;
    uint32_t PositionMs;
} TestKpiSetPositionCall;

typedef void (*TestKpiGetCountsProc)(TestKpiCounts* out);
/* Copies up to max calls; returns how many there were. */
typedef uint32_t (*TestKpiGetSetPositionCallsProc)(TestKpiSetPositionCall* out, uint32_t max);
/* The format the last Open received, before the plug-in overwrote it. */
typedef void (*TestKpiGetLastRequestProc)(SoundFormat* out);
/* Copies the file name the last Open received into out (at most size bytes, NUL-ended). */
typedef void (*TestKpiGetLastOpenNameProc)(char* out, uint32_t size);
typedef void (*TestKpiResetProc)(void);

#ifdef __cplusplus
}
#endif
