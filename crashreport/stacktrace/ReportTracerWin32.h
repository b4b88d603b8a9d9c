#pragma once
// The stack tracer as the bug report uses it, over this process.
#include "crashreport/report/StackTracer.h"

TRef<IStackTracer> Win32StackTracer();
