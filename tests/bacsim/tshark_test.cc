int bacsim_placeholder2;
