// Processor time used by the whole process so far (user and kernel), in
// milliseconds; each platform reads it its own way.
#pragma once

double ProcessCpuMs();
