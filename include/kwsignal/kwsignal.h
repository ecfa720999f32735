// kwsignal: signal processing for four-colour capillary electrophoresis
// traces. Include this header to get the whole public interface.
#ifndef KWSIGNAL_KWSIGNAL_H
#define KWSIGNAL_KWSIGNAL_H

#include "kwsignal/abif.h"
#include "kwsignal/basecall.h"
#include "kwsignal/capillary.h"
#include "kwsignal/containers.h"
#include "kwsignal/edit.h"
#include "kwsignal/events.h"
#include "kwsignal/export.h"
#include "kwsignal/fragments.h"
#include "kwsignal/platform.h"
#include "kwsignal/process.h"
#include "kwsignal/report.h"
#include "kwsignal/run.h"
#include "kwsignal/rundata.h"
#include "kwsignal/separation.h"
#include "kwsignal/simulate.h"
#include "kwsignal/trace.h"
#include "kwsignal/variants.h"

#endif
