// The texts of Caskwell's string table, in one place for both builds: the resource script
// puts them into its STRINGTABLE, the host build registers them with its stand-in
// (HostResources.cpp). Only #define lines: the resource compiler reads this file too.
#ifndef CASKWELL_STRINGTABLE_H
#define CASKWELL_STRINGTABLE_H

#define CASKWELL_APP_TITLE "Caskwell"
#define CASKWELL_MAIN_TEXT "Youcan now exit this program."
#define CASKWELL_WINDOW_CLASS "CASKWELL"

#endif
