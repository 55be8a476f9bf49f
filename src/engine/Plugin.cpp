// The plug-in library is the engine archive linked whole; only the rkso_* names
// are exported (exports.map).
