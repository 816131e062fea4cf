int bacsim_placeholder;
