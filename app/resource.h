// Resource identifiers shared by the resource script and the code that
// looks the resources up.
#ifndef ORVANE_APP_RESOURCE_H
#define ORVANE_APP_RESOURCE_H

#define IDI_APPICON 101

#endif
