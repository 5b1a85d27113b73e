// For the link only: the functions that worker.js gives mergefile.wasm,
// declared here so that the linker makes them imports and nothing else.
mergeInto(LibraryManager.library, { web_progress() {}, web_out_of_memory() {} });
