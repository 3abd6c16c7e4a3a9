ASMSAMP  CSECT
         USING ASMSAMP,15
         SR    15,15              RETURN CODE ZERO
         BR    14                 BACK TO THE CALLER
         END   ASMSAMP
