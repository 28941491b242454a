window.parent.framed = true;
