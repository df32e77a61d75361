// placeholder until the module is written
