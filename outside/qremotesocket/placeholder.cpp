// placeholder until the transport lands
