// Places the browser module's bytes in the program's read-only data, between the two
// symbols that browser_engine.cpp reads. LUMIRA_ENGINE_MODULE is the module's path.
asm(".section .rodata.lumira_engine_image,\"a\",@progbits\n"
    ".balign 64\n"
    ".global lumira_engine_image_begin\n"
    "lumira_engine_image_begin:\n"
    ".incbin \"" LUMIRA_ENGINE_MODULE "\"\n"
    ".global lumira_engine_image_end\n"
    "lumira_engine_image_end:\n"
    ".byte 0\n"
    ".previous\n");
