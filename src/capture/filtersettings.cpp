#include "filtersettings.h"

FilterSettings g_filter_settings;
