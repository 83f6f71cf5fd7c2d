// A library that is no core runtime: it lacks GetNewSock.
extern "C" int SomethingElse() { return 1; }
