// Resource identifiers of Dorvane_Tool.
#ifndef PM_LOGONTOOL_RESOURCE_H
#define PM_LOGONTOOL_RESOURCE_H

#define IDI_DORVANE_TOOL 101

#endif
