// Root of the class tree: names the event source every object of this system belongs to.
#ifndef PM_PMEVENTSOURCE_H
#define PM_PMEVENTSOURCE_H

class PMEventSource {
 public:
  PMEventSource();
  virtual ~PMEventSource();

 protected:
  // Points at the constant text "PMevents"; copies share the pointer.
  const char* sourceName;
};

#endif
